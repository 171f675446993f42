#pragma once
// A fixture with a fresh folder under /tmp (m_dir), removed with everything in it afterwards.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <unistd.h>

class ScratchFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/fsweep-base.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
    }
    void TearDown() override { [[maybe_unused]] int rc = ::system(("rm -rf '" + m_dir + "'").c_str()); }
    std::string m_dir;
};
