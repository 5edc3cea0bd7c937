#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QStandardPaths>
#include <cstdlib>
#include <string>

#include "platform/linux/qt/runtime_folder.h"
#include "tests/support/child_process.h"

namespace tarnu::test {
namespace {

std::string qtWarnings;

void RecordWarning(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type != QtDebugMsg && type != QtInfoMsg) {
        qtWarnings += message.toStdString() + "\n";
    }
}

// Qt wants a runtime folder of mode 0700 owned by the runner, and warns on every start where
// none is named. With an umask that takes the owner's write bit, as some administrators set.
TEST(RuntimeFolder, QtGetsAPrivateFolderOfTheRunnerUnlessOneIsNamed) {
    for (const bool asNobody : {false, true}) {
        for (const bool preset : {false, true}) {
            const auto r = RunInChild(
                [&]() -> std::vector<std::int32_t> {
                    ::umask(0277);
                    char own[] = "/tmp/runtime-test-XXXXXX";
                    if (!preset) {
                        ::unsetenv("XDG_RUNTIME_DIR");
                    } else if (!::mkdtemp(own) || ::chmod(own, 0700) != 0 ||
                               ::setenv("XDG_RUNTIME_DIR", own, 1) != 0) {
                        return {};
                    }
                    std::string made;
                    std::vector<std::int32_t> seen;
                    {
                        const qt::PrivateRuntimeFolder runtime;
                        made = runtime.Made();
                        const struct stat st = StatOf(made);
                        qInstallMessageHandler(RecordWarning);
                        const QString qtFolder =
                            QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
                        qInstallMessageHandler(nullptr);
                        seen = {made.rfind("/tmp/", 0) == 0,
                                static_cast<std::int32_t>(st.st_mode & 07777),
                                !made.empty() && st.st_uid == ::geteuid(),
                                qtFolder.toStdString() == (preset ? own : made),
                                qtWarnings.empty()};
                    }
                    const char* after = std::getenv("XDG_RUNTIME_DIR");
                    seen.push_back(preset ? after && std::string(after) == own : after == nullptr);
                    seen.push_back(made.empty() || StatOf(made).st_mode == 0);
                    if (preset) {
                        ::rmdir(own);
                    }
                    return seen;
                },
                asNobody);
            ASSERT_TRUE(r && r->size() == 7) << asNobody << preset;
            const std::vector<std::int32_t> made{1, 0700, 1};
            const std::vector<std::int32_t> none{0, 0, 0};
            EXPECT_EQ(std::vector<std::int32_t>(r->begin(), r->begin() + 3), preset ? none : made)
                << "folder made (in /tmp, mode, owner); as nobody " << asNobody;
            EXPECT_EQ(std::vector<std::int32_t>(r->begin() + 3, r->end()),
                      std::vector<std::int32_t>(4, 1))
                << "Qt's folder, no warning, variable and folder gone after; as nobody " << asNobody
                << ", named " << preset;
        }
    }
}

}  // namespace
}  // namespace tarnu::test
