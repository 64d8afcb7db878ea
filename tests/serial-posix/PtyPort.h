// A pty pair for driving the POSIX serial driver through its Win32 calls: the
// driver opens the slave by its path, the test plays the far end on the master.
#pragma once

#include "platform/Win32Api.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

class PtyPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(openpty(&m_master, &m_slave, nullptr, nullptr, nullptr), 0);
        m_path = ttyname(m_slave);
        tcgetattr(m_slave, &m_lineAtOpen);
        m_hComm = CreateFileA(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(m_hComm, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    }

    void TearDown() override
    {
        if (m_hComm != INVALID_HANDLE_VALUE)
            CloseHandle(m_hComm);
        CloseMaster();
        if (m_slave >= 0)
            close(m_slave);
    }

    void CloseMaster()
    {
        if (m_master >= 0)
            close(m_master);
        m_master = -1;
    }

    // The line settings as the tty itself holds them (our own slave fd).
    termios LineSeen() const
    {
        termios t{};
        EXPECT_EQ(tcgetattr(m_slave, &t), 0);
        return t;
    }

    void FarEndSends(const std::vector<std::uint8_t>& bytes) const
    {
        ASSERT_EQ(write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Blocks until n bytes have come out at the far end.
    std::vector<std::uint8_t> FarEndReceives(std::size_t n) const
    {
        std::vector<std::uint8_t> got(n);
        std::size_t done = 0;
        while (done < n) {
            const ssize_t r = read(m_master, got.data() + done, n - done);
            if (r <= 0)
                break;
            done += static_cast<std::size_t>(r);
        }
        got.resize(done);
        return got;
    }

    // Returns once the driver sees at least n bytes waiting, through the
    // event wait (so it never polls on a clock).
    void WaitUntilQueued(DWORD n)
    {
        OVERLAPPED ov{};
        ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_TRUE(SetCommMask(m_hComm, EV_RXCHAR));
        for (;;) {
            COMSTAT stat{};
            DWORD errors = 0;
            ASSERT_TRUE(ClearCommError(m_hComm, &errors, &stat));
            if (stat.cbInQue >= n)
                break;
            DWORD mask = 0, bytes = 0;
            if (!WaitCommEvent(m_hComm, &mask, &ov)) {
                ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
                ASSERT_TRUE(GetOverlappedResult(m_hComm, &ov, &bytes, TRUE));
            }
        }
        CloseHandle(ov.hEvent);
    }

    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
    termios m_lineAtOpen{};  // as the tty was before the driver opened it
    HANDLE m_hComm = INVALID_HANDLE_VALUE;
};
