// File errors and the replacing save, on real files with injected faults.
#include "app/services/FileStore.h"
#include "app/ui/AppPlatform.h"
#include "tests/app/AppTestSupport.h"

using enum FileErrorCause;

TEST(FileErrorTest, Win32CodesMapToTheirCauses)
{
    struct Case {
        DWORD dwError;
        FileErrorCause cause;
    };
    for (const Case& c : {Case{0, none}, Case{2, fileNotFound}, Case{3, badPath}, Case{4, tooManyOpenFiles},
                          Case{5, accessDenied}, Case{6, invalidFile}, Case{16, removeCurrentDir}, Case{25, badSeek},
                          Case{29, hardIO}, Case{32, sharingViolation}, Case{33, lockViolation}, Case{38, endOfFile},
                          Case{39, diskFull}, Case{112, diskFull}, Case{123, badPath}, Case{9999, generic}}) {
        EXPECT_EQ(c.cause, FileErrorCauseFromOsError(c.dwError)) << c.dwError;
    }
}

TEST(FileErrorTest, TextsNameThePath)
{
    EXPECT_EQ("No error occurred.", FileErrorText(none, "x"));
    EXPECT_EQ("Disk full while accessing C:\\a.qmf.", FileErrorText(diskFull, "C:\\a.qmf"));
    EXPECT_EQ("C:\\a.qmf was not found.", FileErrorText(fileNotFound, "C:\\a.qmf"));
    EXPECT_EQ("Seek failed on b", FileErrorText(badSeek, "b"));
    EXPECT_EQ("An attempt was made to access b past its end.", FileErrorText(endOfFile, "b"));
}

class SaveFileTest : public AppTest {};

TEST_F(SaveFileTest, FaultsNeverCostTheOldFile)
{
    struct Case {
        HeadlessFileOp op;
        DWORD dwError;
        SaveResult result;
        FileErrorCause cause;
    };
    const std::string strPath = OutPath("c.qmf");
    const std::string strNew(3000, 'n');
    for (const Case& c : {Case{FileOpProbe, 32, SaveCantOpen, none}, Case{FileOpCreate, 5, SaveCantOpen, none},
                          Case{FileOpWrite, 112, SaveFailed, diskFull}, Case{FileOpClose, 29, SaveFailed, hardIO},
                          Case{FileOpReplace, 5, SaveFailed, accessDenied}}) {
        SCOPED_TRACE(c.op);
        WriteWholeFile(strPath, "old");
        HeadlessInjectFileError(c.op, c.dwError);
        FileErrorCause cause = generic;
        EXPECT_EQ(c.result, SaveFileReplacing(strPath, strNew.data(), strNew.size(), &cause));
        EXPECT_EQ(c.cause, cause);
        EXPECT_EQ("old", ReadWholeFile(strPath));
        EXPECT_FALSE(PlatformFileExists(OutPath(".~tcc0.tmp")));
    }
}

TEST_F(SaveFileTest, ReplacesWholeAndStepsOverTakenTempNames)
{
    const std::string strPath = OutPath("d.qmf");
    WriteWholeFile(strPath, "old contents, longer than the new");
    WriteWholeFile(OutPath(".~tcc0.tmp"), "somebody else's");
    FileErrorCause cause = generic;
    ASSERT_EQ(SaveOk, SaveFileReplacing(strPath, "new", 3, &cause));
    EXPECT_EQ(none, cause);
    EXPECT_EQ("new", ReadWholeFile(strPath));
    EXPECT_EQ("somebody else's", ReadWholeFile(OutPath(".~tcc0.tmp")));
    EXPECT_FALSE(PlatformFileExists(OutPath(".~tcc1.tmp")));
    ASSERT_EQ(SaveOk, SaveFileReplacing(OutPath("empty.qmf"), nullptr, 0, &cause));
    EXPECT_EQ("", ReadWholeFile(OutPath("empty.qmf")));
}
