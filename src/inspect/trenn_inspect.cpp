// trenn-inspect: runs the viewer's whole loading sequence without a window and prints what
// it found (or why it failed) as one JSON object.

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <clocale>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "app/headless_window.h"
#include "app/main_module.h"
#include "model/extent.h"
#include "model/mesh.h"
#include "elf/elf_data.h"
#include "inspect/export_command.h"
#include "inspect/json_writer.h"
#include "inspect/png_writer.h"
#include "render/view_keys.h"
#include "runtime/termination_guard.h"
#include "runtime/text.h"
#include "render/picture_view.h"
#include "model/rotation.h"
#include "render/view_mapping.h"
#include "render/colours.h"
#include "render/shaded.h"
#include "render/wireframe.h"

namespace {

using namespace trenn;

constexpr const char* kUsage =
    "usage: trenn-inspect [--full] [--render OUT.png [--size WxH] [--shaded [--edges]]\n"
    "                     [--keys KEY,...] [--zoom F] [--center X,Y] [--fit]] [--export OUT]\n"
    "                     [--check all|N,M,...] [--] OBJECT\n"
    "       trenn-inspect --help | --version";

constexpr const char* kHelp =
    "\n\nLoads OBJECT as the viewer does and prints the parts it found, or why it failed, as "
    "JSON.\n"
    "  --full            also print every vertex and index\n"
    "  --render OUT.png  also write the picture area as the viewer shows it\n"
    "  --size WxH        the picture's size in pixels, 16 to 8192 each way (default 395x346)\n"
    "  --shaded          the shaded picture: surfaces, each part in its own colour\n"
    "  --edges           with --shaded: the visible edges in black\n"
    "  --export OUT      also write the ticked parts to OUT, in the format its extension names:\n"
    "                    .obj, .ply, .stl or .glb (binary glTF)\n"
    "  --check all|N,... list positions to tick for --render and --export, counted from 0\n"
    "                    (default: all)\n"
    "  --keys KEY,...    keys pressed in the picture afterwards, in order: Left, Right, Up,\n"
    "                    Down, Home (any case)\n"
    "  --zoom F          zoom the picture by F (1/16 to 4096) about its centre\n"
    "  --center X,Y      put the model point (X, Y) in the middle of the picture\n"
    "  --fit             fit the ticked parts, as the keys turned them, into the picture\n"
    "  --                the object's name follows, even if it starts with -\n"
    "  --version         print the version and exit\n"
    "Exit status: 0 loaded, 1 the file failed, 2 usage error, 3 the picture could not be drawn or "
    "written, or OUT could not be written.\n";

struct Options {
    bool full = false;
    std::string object;
    std::optional<std::string> render;
    std::optional<ExportRequest> exportTo;
    std::optional<std::vector<int>> check;  // unset: every list position
    std::vector<int> keys;                  // Windows key codes, in order
    std::optional<double> zoom;
    std::optional<std::pair<double, double>> center;
    bool fit = false;
    int width = PictureView::kStartWidth;
    int height = PictureView::kStartHeight;
    bool shaded = false;
    bool edges = false;
};

struct UsageError {
    std::string message;
};

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        items.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return items;
        start = comma + 1;
    }
}

std::optional<std::vector<int>> ParseCheck(const std::string& value) {
    if (value == "all") return std::nullopt;
    std::vector<int> positions;
    for (const std::string& item : SplitCommas(value)) {
        int position = -1;
        const char* end = item.data() + item.size();
        const auto result = std::from_chars(item.data(), end, position);
        // List positions are 16-bit counters.
        if (item.empty() || result.ec != std::errc() || result.ptr != end || position < 0 ||
            position > 32767) {
            throw UsageError{"--check: \"" + item + "\" is not a list position"};
        }
        positions.push_back(position);
    }
    return positions;
}

std::vector<int> ParseKeys(const std::string& value) {
    static const struct {
        const char* name;
        int code;
    } kKeys[] = {{"left", kKeyLeft}, {"right", kKeyRight}, {"up", kKeyUp},
                 {"down", kKeyDown}, {"home", kKeyHome}};
    std::vector<int> codes;
    for (std::string item : SplitCommas(value)) {
        const std::string given = item;
        std::transform(item.begin(), item.end(), item.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        const auto* key = std::find_if(std::begin(kKeys), std::end(kKeys),
                                       [&](const auto& k) { return item == k.name; });
        if (key == std::end(kKeys)) throw UsageError{"--keys: unknown key \"" + given + "\""};
        codes.push_back(key->code);
    }
    return codes;
}

// A finite number, all of the text.
std::optional<double> ParseNumber(const std::string& text) {
    double number = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, number);
    if (text.empty() || result.ec != std::errc() || result.ptr != end || !std::isfinite(number)) {
        return std::nullopt;
    }
    return number;
}

// Throws UsageError; --help and --version are handled by the caller.
Options ParseOptions(const std::vector<std::string>& args) {
    Options options;
    bool haveObject = false;
    bool pictureOptions = false;
    bool checkGiven = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded) {
            if (haveObject) throw UsageError{"more than one object file"};
            options.object = arg;
            haveObject = true;
            continue;
        }
        const auto value = [&]() -> const std::string& {
            if (i + 1 >= args.size()) throw UsageError{arg + " needs a value"};
            return args[++i];
        };
        if (arg == "--full") {
            options.full = true;
        } else if (arg == "--render") {
            options.render = value();
            if (options.render->empty()) throw UsageError{"--render needs a file name"};
        } else if (arg == "--export") {
            const std::string& out = value();
            options.exportTo = ParseExportRequest(out);
            if (!options.exportTo) {
                throw UsageError{"--export: \"" + out + "\" does not end in .obj, .ply, .stl or .glb"};
            }
        } else if (arg == "--check") {
            options.check = ParseCheck(value());
            checkGiven = true;
        } else if (arg == "--keys") {
            options.keys = ParseKeys(value());
            pictureOptions = true;
        } else if (arg == "--zoom") {
            const std::string& text = value();
            options.zoom = ParseNumber(text);
            if (!options.zoom || *options.zoom < PictureView::kMinZoom || *options.zoom > PictureView::kMaxZoom) {
                throw UsageError{"--zoom: \"" + text + "\" is not a zoom from 1/16 to 4096"};
            }
            pictureOptions = true;
        } else if (arg == "--center") {
            const std::string& text = value();
            const std::vector<std::string> items = SplitCommas(text);
            const auto x = items.size() == 2 ? ParseNumber(items[0]) : std::nullopt;
            const auto y = items.size() == 2 ? ParseNumber(items[1]) : std::nullopt;
            if (!x || !y) throw UsageError{"--center: \"" + text + "\" is not a point X,Y"};
            options.center = {*x, *y};
            pictureOptions = true;
        } else if (arg == "--fit") {
            options.fit = true;
            pictureOptions = true;
        } else if (arg == "--shaded") {
            options.shaded = true;
            pictureOptions = true;
        } else if (arg == "--edges") {
            options.edges = true;
            pictureOptions = true;
        } else if (arg == "--size") {
            const std::string& text = value();
            const std::size_t x = text.find('x');
            const auto side = [&](const std::string& item) -> int {
                int number = 0;
                const char* end = item.data() + item.size();
                const auto result = std::from_chars(item.data(), end, number);
                if (item.empty() || result.ec != std::errc() || result.ptr != end || number < 16 || number > 8192) {
                    throw UsageError{"--size: \"" + text + "\" is not a size WxH, 16 to 8192 each way"};
                }
                return number;
            };
            if (x == std::string::npos) side("");
            options.width = side(text.substr(0, x));
            options.height = side(text.substr(x + 1));
            pictureOptions = true;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            throw UsageError{"unknown option " + arg};
        } else if (!haveObject) {
            options.object = arg;
            haveObject = true;
        } else {
            throw UsageError{"more than one object file"};
        }
    }
    if (!haveObject) throw UsageError{"no object file"};
    if (pictureOptions && !options.render) {
        throw UsageError{"--size, --shaded, --keys, --zoom, --center and --fit need --render"};
    }
    if (checkGiven && !options.render && !options.exportTo) {
        throw UsageError{"--check needs --render or --export"};
    }
    if (options.edges && !options.shaded) throw UsageError{"--edges needs --shaded"};
    if (options.fit && (options.zoom || options.center)) {
        throw UsageError{"--fit chooses the zoom and centre itself: leave out --zoom and --center"};
    }
    if (options.render && !CanWritePng()) {
        throw UsageError{"--render: this build has no picture output (built without Qt)"};
    }
    return options;
}

int Usage(const std::string& message) {
    std::cerr << "trenn-inspect: " << message << "\n" << kUsage << "\n";
    return 2;
}

// The picture area after ticking the chosen list entries and pressing the keys in the
// picture: the viewer's own drawing, on the viewer's background. Empty when the memory for
// drawing cannot be had.
std::vector<std::uint32_t> RenderPicture(const Options& options, const LoadedModel& model) {
    Scene scene;
    scene.parts = &model.parts;
    scene.checked.assign(model.listTexts.size(), !options.check.has_value());
    if (options.check) {
        for (const int position : *options.check) {
            scene.checked[static_cast<std::size_t>(position)] = true;
        }
    }
    for (const int key : options.keys) ApplyViewKey(key, scene.yaw, scene.pitch);
    PictureView view;
    const std::array<float, 4>& scale = model.startScale;
    view.SetStart(scale[0], scale[1], scale[2], scale[3]);
    std::array<double, 4> box{};
    if (options.fit && TurnedBox(model.parts, scene.checked, scene.yaw, scene.pitch, box)) {
        view.Fit(box[0], box[1], box[2], box[3], options.width, options.height);
    } else if (options.zoom || options.center) {
        const auto [x, y] = options.center.value_or(std::pair{view.CentreX(), view.CentreY()});
        view.Set(options.zoom.value_or(1.0), x, y);
    }
    scene.mapping = view.Mapping(options.width, options.height);
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(options.width) * options.height,
                                      kBackgroundColour);
    const RasterTarget target{pixels.data(), options.width, options.height, options.width};
    const bool drawn = options.shaded ? DrawShaded(scene, target, options.edges) : DrawWireframe(scene, target);
    if (!drawn) return {};
    return pixels;
}

// Loading shows the model in a window that has no screen; what it shows is in the model.
class InspectPlatform : public StartupPlatform {
public:
    HeadlessWindow window;
    std::string message;

    std::optional<std::string> Environment(const char* name) const override {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    double SecondsSinceMidnight() const override { return LocalSecondsSinceMidnight(); }
    char DecimalSeparator() const override {
        const char* point = std::localeconv()->decimal_point;
        return point && point[0] && !point[1] ? point[0] : '.';
    }
    ViewerWindow& LoadViewerWindow() override { return window; }
    void ShowMessage(const std::string& text, const std::string&, const std::string&) override {
        message = text;
    }
};

void WriteParts(JsonWriter& json, const LoadedModel& model, bool full) {
    json.Key("parts");
    json.BeginArray();
    for (std::size_t k = 0; k < model.listTexts.size(); ++k) {
        const MeshPart& part = model.parts.at(k);
        const SymbolEntry& symbol = model.symbols.at(static_cast<std::size_t>(part.symbol));
        json.BeginObject();
        json.Key("text");
        json.String(BytesToUtf8(model.listTexts[k]));
        json.Key("symbol");
        json.Integer(part.symbol);
        json.Key("value");
        json.Integer(symbol.value);
        json.Key("vertices");
        json.Integer(static_cast<std::int64_t>(part.vertices.size()));
        json.Key("indices");
        json.Integer(static_cast<std::int64_t>(part.indices.size()));
        if (full) {
            json.Key("vertex_data");
            json.BeginArray();
            for (const MeshVertex v : part.vertices) {
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
            const auto stored = static_cast<std::int64_t>(part.indices.StoredCount());
            for (std::int64_t p = 0; p < stored; ++p) json.Integer(part.indices[static_cast<std::size_t>(p)]);
            json.EndArray();
            json.Key("index_zero_tail");
            json.Integer(static_cast<std::int64_t>(part.indices.size()) - stored);
        }
        json.EndObject();
    }
    json.EndArray();
}

// Loads, draws and prints; the exit status.
int Inspect(const Options& options, TerminationGuard& termination) {
    const std::string& object = options.object;
    InspectPlatform platform;
    // Owns the scratch file, which goes when the loader does, before the program ends, or
    // at once on a termination signal.
    ObjectLoader loader(platform);
    const TerminationCleanup cleanup(termination, [&loader] { loader.RemoveScratchFiles(); });
    const StartupOutcome outcome = loader.Start(object);
    if (const int signal = termination.TakePending(); signal != 0) termination.Terminate(signal);

    if (outcome == StartupOutcome::WindowShown && options.render) {
        const LoadedModel& model = loader.Model();
        const std::size_t listCount = model.listTexts.size();
        if (options.check) {
            for (const int position : *options.check) {
                if (static_cast<std::size_t>(position) >= listCount) {
                    return Usage("--check: no list position " + std::to_string(position) +
                                 " (the list has " + std::to_string(listCount) + " entries)");
                }
            }
        }
        const std::vector<std::uint32_t> pixels =
            RenderPicture(options, model);
        if (pixels.empty()) {
            std::cerr << "trenn-inspect: not enough memory to draw the picture\n";
            return 3;
        }
        if (const auto problem = WritePng(*options.render, pixels, options.width, options.height)) {
            std::cerr << "trenn-inspect: " << *problem << "\n";
            return 3;
        }
    }
    std::optional<ExportSummary> exported;
    if (outcome == StartupOutcome::WindowShown && options.exportTo) {
        const LoadedModel& model = loader.Model();
        const auto missing = MissingListPosition(options.check, model.listTexts.size());
        if (missing) return Usage(*missing);
        exported = ExportTicked(*options.exportTo, model, options.check, termination,
                                [&loader] { loader.RemoveScratchFiles(); });
        if (!exported->written) {
            std::cerr << "trenn-inspect: " << exported->detail << "\n";
            return 3;
        }
    }

    JsonWriter json(stdout);
    json.BeginObject();
    json.Key("object");
    json.String(object);
    if (outcome == StartupOutcome::WindowShown) {
        json.Key("symbols");
        json.BeginArray();
        const LoadedModel& model = loader.Model();
        for (const SymbolEntry& symbol : model.symbols) {
            json.BeginObject();
            json.Key("name");
            json.String(BytesToUtf8(symbol.name));
            json.Key("value");
            json.Integer(symbol.value);
            json.EndObject();
        }
        json.EndArray();
        const std::array<float, 4>& s = model.startScale;
        json.Key("extent");
        json.Single(s[2]);
        json.Key("scale");
        json.BeginArray();
        for (int i = 0; i < 4; ++i) json.Single(s[i]);
        json.EndArray();
        WriteParts(json, model, options.full);
        if (options.render) {
            json.Key("render");
            json.String(*options.render);
        }
        if (exported) WriteExportJson(json, *options.exportTo, *exported);
    } else {
        json.Key("error");
        json.String(platform.message);
        json.Key("detail");
        json.String(g_lastFailureDetail);
    }
    json.EndObject();
    json.EndLine();
    if (!json.Flush()) {
        std::cerr << "trenn-inspect: cannot write the output: " << std::strerror(errno) << "\n";
        return 3;
    }
    return outcome == StartupOutcome::WindowShown ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    const std::vector<std::string> args(argv + 1, argv + argc);
    // --help and --version answer wherever they stand, but not after "--".
    const auto ended = std::find(args.begin(), args.end(), "--");
    const auto given = [&](auto&&... names) {
        return std::find_if(args.begin(), ended, [&](const std::string& a) {
                   return ((a == names) || ...);
               }) != ended;
    };
    if (given("--help", "-h")) {
        std::cout << kUsage << kHelp;
        return 0;
    }
    if (given("--version")) {
        std::cout << "trenn-inspect " TRENN_VERSION "\n";
        return 0;
    }
    Options options;
    try {
        options = ParseOptions(args);
    } catch (const UsageError& error) {
        return Usage(error.message);
    }
    // Before any thread starts, so that every thread leaves the signals to it.
    TerminationGuard termination;
    try {
        return Inspect(options, termination);
    } catch (const std::bad_alloc&) {
        // The loader has removed its scratch file on the way here.
        std::cerr << "trenn-inspect: out of memory\n";
        return 3;
    }
}
