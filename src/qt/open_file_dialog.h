#pragma once

#include <cstdint>
#include <functional>

#include "dialog/common_dialog.h"

class QFileDialog;

namespace trenn {

// The open-file dialog on Qt: a non-native QFileDialog, so that it looks and behaves the
// same on every desktop and can be driven by tests. Needs a QApplication; without one
// every request fails with kDialogErrorInitialization.
//
// Flag bits honoured: OFN_FILEMUSTEXIST (existing file only), OFN_ALLOWMULTISELECT
// (several existing files; the buffer then holds the folder, NUL, each name, NUL, and a
// final NUL when more than one is chosen), OFN_READONLY and OFN_HIDEREADONLY (the
// "Open as read-only" box). A path that does not fit its buffer with the NUL fails with
// kDialogErrorBufferTooSmall.
class QtOpenFileDialog final : public OpenFileDialogPlatform {
public:
    static constexpr const char* kDialogObjectName = "trennOpenFileDialog";
    static constexpr const char* kReadOnlyBoxObjectName = "trennReadOnlyBox";

    // Called with the configured dialog just before it is shown modally.
    using ShowHook = std::function<void(QFileDialog&)>;
    void SetShowHook(ShowHook hook) { showHook_ = std::move(hook); }

    std::int32_t GetOpenFileNameA(OpenFileName& request) override;
    std::int32_t CommDlgExtendedError() override { return lastError_; }

private:
    ShowHook showHook_;
    std::int32_t lastError_ = 0;
};

}  // namespace trenn
