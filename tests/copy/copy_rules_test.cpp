#include <gtest/gtest.h>

#include "platform/linux/posix/posix_shell.h"
#include "tests/copy/copy_test_util.h"
#include "tests/copy_cases/shell_copy_cases.h"
#include "tests/support/temp_dir.h"

namespace tarnu::test {
namespace {

std::string InScratch(const TempDir& dir, const std::string& path) {
    return path.empty() ? path : dir.path() + "/" + path;
}

TEST(ShellCopyRules, EveryCaseGivesItsStatusAndTree) {
    for (const copycases::Case& c : copycases::ShellCopyCases()) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ScopedCurrentDir inScratch(dir.path());
        MakeTree(dir.path(), c.setup);

        RecordingObserver observer;
        posix::PosixShell shell(observer);
        SHFILEOPSTRUCTA request;
        request.wFunc = FO_COPY;
        request.pFrom = InScratch(dir, c.source) + '\0' + '\0';
        request.pTo = InScratch(dir, c.target) + '\0' + '\0';
        request.fFlags = FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOCONFIRMMKDIR;

        EXPECT_EQ(static_cast<std::uint32_t>(shell.SHFileOperationA(request)), c.status);
        EXPECT_FALSE(request.fAnyOperationsAborted);
        copycases::Tree expected = c.result;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(ReadTree(dir.path()), expected);
        if (c.status == copycases::kOk) {
            EXPECT_TRUE(observer.failures.empty());
            continue;
        }
        ASSERT_EQ(observer.failures.size(), 1u) << "every failure is reported once";
        EXPECT_EQ(static_cast<std::uint32_t>(observer.failures[0].status), c.status);
        EXPECT_NE(observer.failures[0].text.find(c.named), std::string::npos)
            << observer.failures[0].text;
    }
}

}  // namespace
}  // namespace tarnu::test
