#pragma once

// The main window created inside the test process exactly as the entry routine
// creates it, so that its fonts and the state record can be inspected directly.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

const DWORD kBoxTimeoutMs = 5000;
const DWORD kNoBoxWaitMs = 1500;

// A child's rectangle in its parent's client coordinates.
RECT ChildRect(HWND child);

// Whether the progress bar's marquee animation runs. Probes Wine's marquee timer,
// which stops a running marquee.
bool MarqueeRunning();

// Handles everything queued for this thread except the quit message.
void PumpMessages();

std::wstring TextOf(HWND window);

class MainWindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // The row-th child in creation order.
    HWND Child(int row);

    HWND window = nullptr;
};
