// trenn-inspect: runs the viewer's whole loading sequence without a window and prints what
// it found (or why it failed) as one JSON object.

#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "app/main_module.h"
#include "app/model.h"
#include "dialog/common_dialog.h"
#include "elf/elf_data.h"
#include "inspect/json_writer.h"
#include "runtime/text.h"

namespace {

using namespace trenn;

constexpr const char* kUsage = "usage: trenn-inspect [--full] OBJECT";

// The viewer window as loading sees it, without anything on a screen.
class HeadlessWindow : public ViewerWindow {
public:
    struct Item {
        std::string text;
        std::int32_t data = 0;
    };
    std::vector<Item> items;
    float scale[4] = {0, 0, 0, 0};
    bool shown = false;

    void AddPartItem(const std::string& text) override { items.push_back({text, 0}); }
    std::int32_t PartListNewIndex() const override {
        return static_cast<std::int32_t>(items.size()) - 1;
    }
    void SetPartItemData(std::int32_t index, std::int32_t data) override {
        items.at(static_cast<std::size_t>(index)).data = data;
    }
    float PictureWidth() const override { return 5985.0f; }
    float PictureHeight() const override { return 5250.0f; }
    void ScalePicture(float x1, float y1, float x2, float y2) override {
        scale[0] = x1;
        scale[1] = y1;
        scale[2] = x2;
        scale[3] = y2;
    }
    void ShowWindow() override { shown = true; }
};

// The open-file dialog answers with the path from the command line.
class ArgumentDialog : public OpenFileDialogPlatform {
public:
    explicit ArgumentDialog(std::string path) : path_(std::move(path)) {}
    std::int32_t GetOpenFileNameA(OpenFileName& request) override {
        if (path_.size() + 1 > static_cast<std::size_t>(request.nMaxFile)) {
            error_ = 0x3003;  // the path does not fit the file buffer
            return 0;
        }
        const std::size_t slash = path_.find_last_of('/');
        const std::string title = slash == std::string::npos ? path_ : path_.substr(slash + 1);
        request.lpstrFile = path_ + std::string(static_cast<std::size_t>(request.nMaxFile) - path_.size(), '\0');
        request.lpstrFileTitle = title + std::string(title.size() < 260 ? 260 - title.size() : 1, '\0');
        return 1;
    }
    std::int32_t CommDlgExtendedError() override { return error_; }

private:
    std::string path_;
    std::int32_t error_ = 0;
};

class InspectPlatform : public StartupPlatform {
public:
    HeadlessWindow window;
    std::string message;
    bool windowLoaded = false;

    std::optional<std::string> Environment(const char* name) const override {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    double SecondsSinceMidnight() const override {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
    }
    char DecimalSeparator() const override {
        const char* point = std::localeconv()->decimal_point;
        return point && point[0] && !point[1] ? point[0] : '.';
    }
    ViewerWindow& LoadViewerWindow() override {
        windowLoaded = true;
        return window;
    }
    void ShowMessage(const std::string& text, const std::string&) override { message = text; }
};

void WriteParts(JsonWriter& json, const HeadlessWindow& window, bool full) {
    json.Key("parts");
    json.BeginArray();
    for (std::size_t k = 0; k < window.items.size(); ++k) {
        const MeshPart& part = g_parts.at(k);
        const SymbolEntry& symbol = g_symbols->at(static_cast<std::size_t>(part.symbol));
        json.BeginObject();
        json.Key("text");
        json.String(BytesToUtf8(window.items[k].text));
        json.Key("symbol");
        json.Integer(part.symbol);
        json.Key("value");
        json.Integer(symbol.value);
        json.Key("vertices");
        json.Integer(static_cast<std::int64_t>(part.vertices.size()));
        json.Key("indices");
        json.Integer(part.indices.Count());
        if (full) {
            json.Key("vertex_data");
            json.BeginArray();
            for (const MeshVertex& v : part.vertices) {
                json.BeginArray();
                json.Single(v.x);
                json.Single(v.y);
                json.Single(v.z);
                json.EndArray();
            }
            json.EndArray();
            // Entries past the end of the file are zeros; they are counted, not listed.
            json.Key("index_data");
            json.BeginArray();
            for (const std::int16_t index : part.indices.Stored()) json.Integer(index);
            json.EndArray();
            json.Key("index_zero_tail");
            json.Integer(part.indices.Count() - static_cast<std::int64_t>(part.indices.Stored().size()));
        }
        json.EndObject();
    }
    json.EndArray();
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    bool full = false;
    std::string object;
    bool haveObject = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage << "\n\nLoads OBJECT as the viewer does and prints the parts it "
                         "found, or why it failed, as JSON.\n  --full  also print every vertex "
                         "and index\n";
            return 0;
        }
        if (arg == "--full") {
            full = true;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            std::cerr << "trenn-inspect: unknown option " << arg << "\n" << kUsage << "\n";
            return 2;
        } else if (!haveObject) {
            object = arg;
            haveObject = true;
        } else {
            std::cerr << kUsage << "\n";
            return 2;
        }
    }
    if (!haveObject) {
        std::cerr << kUsage << "\n";
        return 2;
    }

    ArgumentDialog dialog(object);
    SetOpenFileDialogPlatform(&dialog);
    InspectPlatform platform;
    const StartupOutcome outcome = Main(platform);
    SetOpenFileDialogPlatform(nullptr);

    std::string out;
    JsonWriter json(out);
    json.BeginObject();
    json.Key("object");
    json.String(object);
    if (outcome == StartupOutcome::WindowShown) {
        json.Key("symbols");
        json.BeginArray();
        for (const SymbolEntry& symbol : *g_symbols) {
            json.BeginObject();
            json.Key("name");
            json.String(BytesToUtf8(symbol.name));
            json.Key("value");
            json.Integer(symbol.value);
            json.EndObject();
        }
        json.EndArray();
        const float* s = platform.window.scale;
        json.Key("extent");
        json.Single(s[2]);
        json.Key("scale");
        json.BeginArray();
        for (int i = 0; i < 4; ++i) json.Single(s[i]);
        json.EndArray();
        WriteParts(json, platform.window, full);
    } else {
        json.Key("error");
        json.String(platform.message);
        json.Key("detail");
        json.String(g_lastFailureDetail);
    }
    json.EndObject();
    out += '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
    return outcome == StartupOutcome::WindowShown ? 0 : 1;
}
