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

// Qt wants a runtime folder of mode 0700 owned by the runner, and warns on every start where
// none is named. With an umask that takes the owner's write bit, as some administrators set.
TEST(RuntimeFolder, QtGetsAPrivateFolderOfTheRunnerUnlessOneIsNamed) {
    for (const bool asNobody : {false, true}) {
        for (const bool named : {false, true}) {
            const auto seen = RunInChild(
                [&]() -> std::vector<std::int32_t> {
                    ::umask(0277);
                    char own[] = "/tmp/runtime-test-XXXXXX";
                    if (!named) {
                        ::unsetenv("XDG_RUNTIME_DIR");
                    } else if (!::mkdtemp(own) || ::chmod(own, 0700) != 0 ||
                               ::setenv("XDG_RUNTIME_DIR", own, 1) != 0) {
                        return {};
                    }
                    std::string made;
                    struct stat st {};
                    std::string qtFolder;
                    {
                        const qt::PrivateRuntimeFolder runtime;
                        made = runtime.Made();
                        st = StatOf(made);
                        qInstallMessageHandler(
                            [](QtMsgType type, const QMessageLogContext&, const QString& message) {
                                if (type != QtDebugMsg && type != QtInfoMsg) {
                                    qtWarnings += message.toStdString() + "\n";
                                }
                            });
                        qtFolder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation)
                                       .toStdString();
                    }
                    const char* after = std::getenv("XDG_RUNTIME_DIR");
                    ::rmdir(own);
                    return {made.starts_with("/tmp/"),
                            static_cast<std::int32_t>(st.st_mode & 07777),
                            !made.empty() && st.st_uid == ::geteuid(),
                            qtFolder == (named ? own : made),
                            qtWarnings.empty(),
                            std::string(after ? after : "") == (named ? own : ""),
                            StatOf(made).st_mode == 0};
                },
                asNobody);
            // Made (in /tmp, its mode, its owner); Qt's folder, no warning, the variable as it
            // was and the folder gone after.
            EXPECT_EQ(seen, (named ? std::vector<std::int32_t>{0, 0, 0, 1, 1, 1, 1}
                                   : std::vector<std::int32_t>{1, 0700, 1, 1, 1, 1, 1}))
                << "as nobody " << asNobody << ", named " << named;
        }
    }
}

}  // namespace
}  // namespace tarnu::test
