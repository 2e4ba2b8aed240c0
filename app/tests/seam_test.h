// A test fixture on the framework's test seam: boxes open no window and are recorded, and
// strings come from the test program's own string table. A test program that uses it links
// the framework's test variant: `LIBS velmar_app framework_seam` in its suite_test.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "framework.h"
#include "framework_seam.h"

class SeamTest : public testing::Test {
  protected:
    void SetUp() override {
        AfxTestSeam::Begin();
        AfxSetResourceHandle(GetModuleHandleA(nullptr));
    }
    void TearDown() override { AfxTestSeam::End(); }

    // The boxes shown since the last call.
    static std::vector<AfxTestSeam::Event> Boxes() {
        std::vector<AfxTestSeam::Event> boxes;
        for (auto &e : AfxTestSeam::TakeLog())
            if (e.kind == "box")
                boxes.push_back(e);
        return boxes;
    }
};
