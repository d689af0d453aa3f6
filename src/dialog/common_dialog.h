#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "runtime/bool16.h"

namespace trenn {

// A string that may also be null (no string at all), as the dialog record distinguishes.
// Characters are 8-bit; paths are carried as the file system's bytes (UTF-8 on Linux).
using DialogString = std::optional<std::string>;

inline constexpr std::int32_t OFN_READONLY = 0x1;
inline constexpr std::int32_t OFN_HIDEREADONLY = 0x4;
inline constexpr std::int32_t OFN_ENABLEHOOK = 0x20;
inline constexpr std::int32_t OFN_ENABLETEMPLATE = 0x40;
inline constexpr std::int32_t OFN_ALLOWMULTISELECT = 0x200;
inline constexpr std::int32_t OFN_FILEMUSTEXIST = 0x1000;

inline constexpr std::int32_t kDialogBufferLength = 260;

// Failure codes that CommDlgExtendedError reports (0 means the user cancelled).
inline constexpr std::int32_t kDialogErrorInitialization = 0x0002;
inline constexpr std::int32_t kDialogErrorBufferTooSmall = 0x3003;

// The open-file request record in its short 76-byte form.
struct OpenFileName {
    std::int32_t lStructSize = 0;
    std::int32_t hwndOwner = 0;
    std::int32_t hInstance = 0;
    DialogString lpstrFilter;
    DialogString lpstrCustomFilter;
    std::int32_t nMaxCustFilter = 0;
    std::int32_t nFilterIndex = 0;
    DialogString lpstrFile;
    std::int32_t nMaxFile = 0;
    DialogString lpstrFileTitle;
    std::int32_t nMaxFileTitle = 0;
    DialogString lpstrInitialDir;
    DialogString lpstrTitle;
    std::int32_t Flags = 0;
    std::int16_t nFileOffset = 0;
    std::int16_t nFileExtension = 0;
    DialogString lpstrDefExt;
    std::int32_t lCustData = 0;
    std::int32_t lpfnHook = 0;
    DialogString lpTemplateName;
};

// The platform's open-file dialog. The real one is a Qt file dialog; tests and the
// command-line inspector put their own in its place.
class OpenFileDialogPlatform {
public:
    virtual ~OpenFileDialogPlatform() = default;
    // Modal. Nonzero when a file was chosen; fills lpstrFile, lpstrFileTitle, nFilterIndex
    // and Flags of the record as the dialog returns them.
    virtual std::int32_t GetOpenFileNameA(OpenFileName& request) = 0;
    // 0 when the last dialog was cancelled, the failure code when it failed.
    virtual std::int32_t CommDlgExtendedError() = 0;
};

// Installs the platform that ShowOpen calls; nullptr restores the default, which fails
// every request with kDialogErrorInitialization (there is no dialog without a window
// system). The platform is not owned.
void SetOpenFileDialogPlatform(OpenFileDialogPlatform* platform);

// mdlCommonDialog's module state.
extern std::int32_t g_lastDialogResult;
extern std::int32_t g_lastDialogError;

// Shows the open-file dialog. -1 when a file was chosen, 0 on cancel or failure (the
// out-parameters are then reset). A fileName or fileTitle over 260 characters, or a
// filter of 32767 characters or more, throws LoadFailure before any dialog is shown.
Bool16 ShowOpen(DialogString& fileName, DialogString& fileTitle, Bool16& fileMustExist,
                Bool16& multiSelect, Bool16& readOnly, Bool16& hideReadOnly, DialogString& filter,
                std::int32_t& filterIndex, DialogString& initialDir, DialogString& dialogTitle,
                DialogString& defaultExt, std::int32_t& ownerWindow, std::int32_t& flags);

// The characters before the first NUL, or the whole text when it holds none.
std::string TrimAtNull(const DialogString& text);

// Description and pattern of pair `index` (from 1) of a converted filter, joined by its NUL.
// "" for an empty filter and for an index below 1 or past the last pair.
std::string GetFilterPair(const std::string& filter, std::int32_t index);

}  // namespace trenn
