// mdlCommonDialog: ShowOpen and the helpers that read the dialog's answers back.

#include "dialog/common_dialog.h"

#include <cstddef>

#include "runtime/checked.h"
#include "runtime/load_failure.h"

namespace trenn {

std::int32_t g_lastDialogResult = 0;
std::int32_t g_lastDialogError = 0;

namespace {

constexpr std::int32_t kRecordSize = 76;
constexpr std::int32_t kNoOwner = -1;

// Without a window system there is no dialog: every request fails, and says so.
class NoDialogPlatform final : public OpenFileDialogPlatform {
public:
    std::int32_t GetOpenFileNameA(OpenFileName&) override { return 0; }
    std::int32_t CommDlgExtendedError() override { return kDialogErrorInitialization; }
};

NoDialogPlatform g_noDialog;
OpenFileDialogPlatform* g_platform = &g_noDialog;

bool IsTrue(Bool16 value) { return value != kFalse; }

// '|' and ':' both separate fields; the list ends with two NULs. The character counter
// is 16-bit, so it overflows on its last increment for 32767 characters or more.
std::string ConvertFilter(const DialogString& filter) {
    const std::string& text = filter ? *filter : std::string();
    if (static_cast<std::int64_t>(text.size()) >= kInt16Max) {
        Fail("dialog filter of " + std::to_string(text.size()) +
             " characters overflows a 16-bit counter");
    }
    std::string converted;
    converted.reserve(text.size() + 2);
    for (char c : text) converted.push_back(c == '|' || c == ':' ? '\0' : c);
    converted.append(2, '\0');
    return converted;
}

// The text followed by NULs up to the buffer's length; a longer text leaves a negative
// number of NULs to add, which is an invalid argument.
std::string PadBuffer(const DialogString& text, const char* what) {
    std::string buffer = text ? *text : std::string();
    if (buffer.size() > static_cast<std::size_t>(kDialogBufferLength)) {
        Fail(std::string(what) + " of " + std::to_string(buffer.size()) +
             " characters: invalid argument (the buffer holds " +
             std::to_string(kDialogBufferLength) + ")");
    }
    buffer.resize(static_cast<std::size_t>(kDialogBufferLength), '\0');
    return buffer;
}

}  // namespace

void SetOpenFileDialogPlatform(OpenFileDialogPlatform* platform) {
    g_platform = platform ? platform : &g_noDialog;
}

Bool16 ShowOpen(DialogString& fileName, DialogString& fileTitle, Bool16& fileMustExist,
                Bool16& multiSelect, Bool16& readOnly, Bool16& hideReadOnly, DialogString& filter,
                std::int32_t& filterIndex, DialogString& initialDir, DialogString& dialogTitle,
                DialogString& defaultExt, std::int32_t& ownerWindow, std::int32_t& flags) {
    g_lastDialogResult = 0;
    g_lastDialogError = 0;

    OpenFileName request;
    request.lStructSize = kRecordSize;

    std::int32_t flagWord = flags & ~(OFN_ENABLEHOOK | OFN_ENABLETEMPLATE);
    if (IsTrue(fileMustExist)) flagWord |= OFN_FILEMUSTEXIST;
    if (IsTrue(multiSelect)) flagWord |= OFN_ALLOWMULTISELECT;
    if (IsTrue(readOnly)) flagWord |= OFN_READONLY;
    if (IsTrue(hideReadOnly)) flagWord |= OFN_HIDEREADONLY;
    request.Flags = flagWord;

    if (ownerWindow != kNoOwner) request.hwndOwner = ownerWindow;

    request.lpstrInitialDir = initialDir;
    request.lpstrTitle = dialogTitle;
    request.lpstrDefExt = defaultExt;

    // Kept apart from the record: the answer is read against the filter as we built it.
    const std::string convertedFilter = ConvertFilter(filter);
    request.lpstrFilter = convertedFilter;
    request.nFilterIndex = filterIndex;

    request.lpstrFile = PadBuffer(fileName, "file name");
    request.nMaxFile = kDialogBufferLength;
    request.lpstrFileTitle = PadBuffer(fileTitle, "file title");
    request.nMaxFileTitle = kDialogBufferLength;

    g_lastDialogResult = g_platform->GetOpenFileNameA(request);

    if (g_lastDialogResult != 0) {
        fileName = TrimAtNull(request.lpstrFile);
        fileTitle = TrimAtNull(request.lpstrFileTitle);
        flags = request.Flags;
        filterIndex = request.nFilterIndex;
        filter = GetFilterPair(convertedFilter, request.nFilterIndex);
        // Set, never cleared: a box unticked by the user leaves the caller's value alone.
        if ((request.Flags & OFN_READONLY) != 0) readOnly = kTrue;
        return kTrue;
    }

    g_lastDialogError = g_platform->CommDlgExtendedError();
    fileName = std::string();
    fileTitle = std::string();
    flags = 0;
    filterIndex = -1;
    filter = std::string();
    return kFalse;
}

std::string TrimAtNull(const DialogString& text) {
    if (!text) return std::string();
    return text->substr(0, text->find('\0'));
}

std::string GetFilterPair(const std::string& filter, std::int32_t index) {
    if (filter.empty() || index < 1) return std::string();
    std::size_t start = 0;
    for (;;) {
        const std::size_t p = filter.find('\0', start);
        if (p == std::string::npos) return std::string();
        const std::size_t q = filter.find('\0', p + 1);
        if (q == std::string::npos) {
            // An unterminated last pair runs to the end; a lone NUL left at the end is the
            // list's terminator, not a pair. Either way nothing follows it.
            const bool terminatorOnly = p == start && p + 1 == filter.size();
            return index == 1 && !terminatorOnly ? filter.substr(start) : std::string();
        }
        if (index == 1) return filter.substr(start, q - start);
        start = q + 1;
        --index;
    }
}

}  // namespace trenn
