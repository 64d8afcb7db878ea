// The profile file: where it lives and how the INI text is read and written.
#include "app/ui/AppPlatform.h"
#include "app/services/Profile.h"
#include "tests/app/AppTestSupport.h"

class ProfileTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        m_profile.SetLocation("P.INI", m_strRoot + "/appdata/Sub", m_strRoot + "/windows");
    }
    CProfile m_profile;
};

TEST_F(ProfileTest, ReadsAsTheWin32ProfileCallsDo)
{
    WriteWholeFile(m_strRoot + "/windows/P.INI",
                   "; comment\r\n[serial_config]\r\n port = -1 \r\n[Main]\r\nText=a=b\r\nNumber=12abc\r\nWord=abc\r\n");
    EXPECT_EQ(-1, m_profile.GetInt("Serial_Config", "PORT", 7));
    EXPECT_EQ(12, m_profile.GetInt("Main", "Number", 7));
    EXPECT_EQ(0, m_profile.GetInt("Main", "Word", 7));
    EXPECT_EQ(7, m_profile.GetInt("Main", "Missing", 7));
    EXPECT_EQ(7, m_profile.GetInt("Nowhere", "Port", 7));
    EXPECT_EQ("a=b", m_profile.GetString("main", "text", "d"));
    EXPECT_EQ("d", m_profile.GetString("Main", "Port", "d"));
}

TEST_F(ProfileTest, WritesGoToTheUserFolderStartingFromTheOldFile)
{
    WriteWholeFile(m_strRoot + "/windows/P.INI", "[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n");
    ASSERT_TRUE(m_profile.WriteString("A", "y", "20"));
    ASSERT_TRUE(m_profile.WriteInt("A", "w", -5));
    ASSERT_TRUE(m_profile.WriteString("C", "v", "new"));
    EXPECT_EQ(m_strRoot + "/appdata/Sub/P.INI", m_profile.GetPath());
    EXPECT_EQ("[A]\r\nx=1\r\ny=20\r\nw=-5\r\n[B]\r\nz=3\r\n[C]\r\nv=new\r\n", ReadWholeFile(m_profile.GetPath()));
    EXPECT_EQ("[A]\r\nx=1\r\ny=2\r\n[B]\r\nz=3\r\n", ReadWholeFile(m_strRoot + "/windows/P.INI"));
    EXPECT_EQ(20, m_profile.GetInt("A", "y", 0));
}

TEST_F(ProfileTest, WithoutAUserFolderTheOldPlaceIsUsed)
{
    m_profile.SetLocation("P.INI", "", m_strRoot + "/windows");
    ASSERT_TRUE(m_profile.WriteString("A", "k", "v"));
    EXPECT_EQ("[A]\r\nk=v\r\n", ReadWholeFile(m_strRoot + "/windows/P.INI"));
}

TEST_F(ProfileTest, IntegersAsUsersTypeThem)
{
    struct Case {
        const char* pszText;
        int nExpected;
    };
    for (const Case& c : {Case{"", 7}, Case{"  ", 7}, Case{"-1", -1}, Case{" +3", 3}, Case{"-", 0}, Case{"x1", 0},
                          Case{"2147483647", 2147483647}, Case{"99999999999999999999", 2147483647},
                          Case{"-2147483648", -2147483647 - 1}, Case{"-99999999999999999999", -2147483647 - 1}}) {
        SCOPED_TRACE(c.pszText);
        EXPECT_EQ(c.nExpected, ParseProfileInt(c.pszText, 7));
    }
}

// An old version without a manifest really wrote to the user's VirtualStore
// copy of the Windows folder; that copy wins over the Windows folder itself.
TEST_F(ProfileTest, VirtualStoreCopyIsTheOldPlaceWhereItExists)
{
    mkdir((m_strRoot + "/vstore").c_str(), 0700);
    m_profile.SetLocation("P.INI", m_strRoot + "/appdata/Sub", m_strRoot + "/windows", m_strRoot + "/vstore");
    EXPECT_EQ(5, m_profile.GetInt("A", "x", 5));
    WriteWholeFile(m_strRoot + "/windows/P.INI", "[A]\r\nx=1\r\n");
    EXPECT_EQ(1, m_profile.GetInt("A", "x", 5));
    WriteWholeFile(m_strRoot + "/vstore/P.INI", "[A]\r\nx=2\r\ny=3\r\n");
    EXPECT_EQ(2, m_profile.GetInt("A", "x", 5));

    ASSERT_TRUE(m_profile.WriteString("A", "x", "4"));
    EXPECT_EQ("[A]\r\nx=4\r\ny=3\r\n", ReadWholeFile(m_profile.GetPath()));
}
