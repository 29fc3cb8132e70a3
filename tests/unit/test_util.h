// Helpers shared by the unit tests: capturing standard output and scratch folders.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "KelMem.h"

// Runs f and returns everything it printed to standard output.
template <typename F> std::string kt_Capture(F f)
{
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// A fresh scratch folder under /tmp, removed with everything in it on destruction.
struct kt_TempDir {
    std::string path;
    kt_TempDir()
    {
        char tmpl[] = "/tmp/kelmem-test-XXXXXX";
        const char* made = mkdtemp(tmpl);
        path = made ? made : "";
    }
    ~kt_TempDir()
    {
        if (!path.empty()) {
            int rc = std::system(("rm -rf '" + path + "'").c_str());
            (void)rc;
        }
    }
    kt_TempDir(const kt_TempDir&) = delete;
    kt_TempDir& operator=(const kt_TempDir&) = delete;

    // Writes content (any bytes) to name inside the folder; returns the full path.
    std::string write(const std::string& name, const std::string& content) const
    {
        std::string full = path + "/" + name;
        std::FILE* f = std::fopen(full.c_str(), "wb");
        if (f) {
            std::fwrite(content.data(), 1, content.size(), f);
            std::fclose(f);
        }
        return full;
    }
};

// A fixture with a manager of 1000 cells, made before each test and released
// after it.
class kt_ManagerTest : public testing::Test {
  protected:
    KelMM* kmm = nullptr;

    void SetUp() override
    {
        kmm = KMM_Create(1000);
        ASSERT_NE(kmm, nullptr);
    }
    void TearDown() override
    {
        if (kmm != nullptr) {
            KMM_Free(kmm);
            std::free(kmm);
        }
    }
};
