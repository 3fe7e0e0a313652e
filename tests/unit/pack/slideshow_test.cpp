// Packages made from pictures and music: which pictures glimmer-pack takes
// and how it scales them, the [slideshow] table's pictures in their order,
// the refusals, and glimmer-pack new followed by build, read back through
// the screen saver's own reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "pictures.h"
#include "show_data.h"
#include "slideshow.h"
#include "support/package_builder.h"
#include "support/tool_run.h"

namespace fs = std::filesystem;

namespace {

// `width` by `height` pixels of `channels` bytes, each byte from `seed`
// (0: one solid colour).
std::vector<std::uint8_t> Pixels(int width, int height, int channels, unsigned seed, std::uint8_t alpha = 255) {
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * channels);
    std::uint32_t state = seed;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        state = state * 1103515245u + 12345u;
        pixels[i] = seed ? static_cast<std::uint8_t>(state >> 16) : static_cast<std::uint8_t>(40 * (i % channels));
        if (channels == 4 && i % 4 == 3) pixels[i] = alpha;
    }
    return pixels;
}

std::string Png(int width, int height, unsigned seed = 0) {
    return EncodePng(Pixels(width, height, 3, seed).data(), width, height, 3);
}

std::string Jpeg(int width, int height) { return EncodeJpeg(Pixels(width, height, 3, 0).data(), width, height, 3, 90); }

void PutLe(std::string& bytes, std::size_t at, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// A 24-bit BMP; its pixels are left out when `withPixels` is false.
std::string Bmp(int width, int height, bool withPixels = true) {
    const std::uint32_t row = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
    const std::uint32_t data = withPixels ? row * height : 0;
    std::string bytes(54 + data, '\x40');
    bytes[0] = 'B';
    bytes[1] = 'M';
    PutLe(bytes, 2, 54 + data, 4);
    PutLe(bytes, 6, 0, 4);
    PutLe(bytes, 10, 54, 4);
    PutLe(bytes, 14, 40, 4);
    PutLe(bytes, 18, static_cast<std::uint32_t>(width), 4);
    PutLe(bytes, 22, static_cast<std::uint32_t>(height), 4);
    PutLe(bytes, 26, 1, 2);
    PutLe(bytes, 28, 24, 2);
    PutLe(bytes, 30, 0, 4);
    PutLe(bytes, 34, data, 4);
    PutLe(bytes, 38, 2835, 4);
    PutLe(bytes, 42, 2835, 4);
    PutLe(bytes, 46, 0, 4);
    PutLe(bytes, 50, 0, 4);
    return bytes;
}

// A PNG whose header claims another size (the decoder reads no checksum).
std::string PngClaiming(std::uint32_t width, std::uint32_t height) {
    std::string bytes = Png(8, 8);
    for (int i = 0; i < 4; ++i) {
        bytes[16 + i] = static_cast<char>(width >> (24 - 8 * i));
        bytes[20 + i] = static_cast<char>(height >> (24 - 8 * i));
    }
    return bytes;
}

const char kGif[] = "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01\x00\x00\x00\x00"
                    ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;";

// A JPEG whose first Huffman table claims more than the 256 codes the
// decoder has room for.
std::string JpegWithOverfullTable() {
    std::string bytes = Jpeg(7, 2);
    const std::size_t table = bytes.find("\xFF\xC4");
    if (table != std::string::npos) bytes[table + 5] = bytes[table + 6] = '\xFF';
    return bytes;
}

TEST(Pictures, OnlyWholeDecodablePicturesOfSaneSizeAreTaken) {
    const std::string noise = Png(64, 64, 7);
    struct Row {
        const char* what;
        std::string bytes;
        const char* refusal;  // nullptr: taken
        int width = 0, height = 0;
    };
    const Row rows[] = {
        {"PNG", Png(5, 3), nullptr, 5, 3},
        {"JPEG", Jpeg(7, 2), nullptr, 7, 2},
        {"GIF", std::string(kGif, sizeof kGif - 1), nullptr, 1, 1},
        {"BMP", Bmp(3, 2), nullptr, 3, 2},
        {"text named .jpg", "hello, not a picture\n", "not a JPEG, PNG, GIF or BMP"},
        {"PNG cut in half", noise.substr(0, noise.size() / 2), "does not decode"},
        {"PNG header only", noise.substr(0, 33), "does not decode"},
        {"JPEG marker only", "\xFF\xD8\xFF", "cannot be read"},
        {"JPEG with a Huffman table of 510 codes", JpegWithOverfullTable(), "Huffman table"},
        {"BMP without its pixels", Bmp(3, 2, false), "does not decode"},
        {"10000 x 10000, refused from its header", PngClaiming(10000, 10000), "10000x10000 pixels is too large"},
        {"a side over 32768", PngClaiming(40000, 10), "cannot be read"},
        {"BMP of 20000 x 20000", Bmp(20000, 20000, false), "too large"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        PictureFacts facts;
        const std::string problem = CheckPicture(row.bytes, &facts);
        if (!row.refusal) {
            EXPECT_EQ(problem, "");
            EXPECT_EQ(facts.width, row.width);
            EXPECT_EQ(facts.height, row.height);
        } else {
            EXPECT_NE(problem.find(row.refusal), std::string::npos) << problem;
        }
    }
}

TEST(Pictures, LargerThanTheLimitIsScaledKeepingItsProportions) {
    struct Row {
        int width, height;
        PictureLimit limit;
        ShowFit fit;
        int scaledWidth, scaledHeight;
    };
    const Row rows[] = {
        {6000, 4000, {}, kFitWhole, 3240, 2160},     // a camera's photo, shown whole
        {6000, 4000, {}, kFitFill, 3840, 2560},      // covering the screen, cropped
        {4000, 6000, {}, kFitWhole, 1440, 2160},     // upright
        {4000, 6000, {}, kFitFill, 3840, 5760},
        {3840, 2160, {}, kFitWhole, 3840, 2160},     // exactly the box
        {3000, 3000, {}, kFitFill, 3000, 3000},      // needs no scaling to cover
        {3000, 3000, {}, kFitWhole, 2160, 2160},
        {40000, 1, {}, kFitWhole, 3840, 1},          // never 0 pixels high
        {6000, 4000, {0, 0}, kFitWhole, 6000, 4000}, // "off"
    };
    for (const Row& row : rows) {
        int w = 0, h = 0;
        ScaledSize(row.width, row.height, row.limit, row.fit, &w, &h);
        EXPECT_EQ(w, row.scaledWidth) << row.width << "x" << row.height << " fit " << row.fit;
        EXPECT_EQ(h, row.scaledHeight) << row.width << "x" << row.height << " fit " << row.fit;
    }
    PictureLimit limit;
    EXPECT_TRUE(ParsePictureLimit("1920x1080", &limit));
    EXPECT_EQ(limit.width, 1920);
    EXPECT_EQ(limit.height, 1080);
    EXPECT_TRUE(ParsePictureLimit("off", &limit));
    EXPECT_EQ(limit.width, 0);
    for (const char* wrong : {"4k", "1920x", "x1080", "0x100", "1920X1080", "40000x100", "-1x5", " 1x1"})
        EXPECT_FALSE(ParsePictureLimit(wrong, &limit)) << wrong;

    // An opaque picture becomes a JPEG, one with see-through pixels a PNG.
    for (std::uint8_t alpha : {std::uint8_t{255}, std::uint8_t{0}}) {
        const std::string picture = EncodePng(Pixels(400, 300, 4, 0, alpha).data(), 400, 300, 4);
        std::string scaled;
        ASSERT_EQ(ScalePicture(picture, 200, 150, &scaled), "");
        PictureFacts facts;
        ASSERT_EQ(CheckPicture(scaled, &facts), "");
        EXPECT_EQ(facts.format, alpha == 255 ? PictureFormat::Jpeg : PictureFormat::Png);
        EXPECT_EQ(facts.width, 200);
        EXPECT_EQ(facts.height, 150);
    }
}

TEST(Pictures, NamesInPeoplesOrderAndPatterns) {
    std::vector<std::string> names = {"img10.jpg", "IMG2.jpg", "img1.jpg", "b.png", "A.png", "img01.jpg", "img2.jpg"};
    std::sort(names.begin(), names.end(), NameBefore);
    EXPECT_EQ(names, (std::vector<std::string>{"A.png", "b.png", "img01.jpg", "img1.jpg", "IMG2.jpg", "img2.jpg",
                                               "img10.jpg"}));
    const struct {
        const char* pattern;
        const char* name;
        bool matches;
    } rows[] = {
        {"*.jpg", "Foto.JPG", true},  {"*.jpg", ".hidden.jpg", false}, {".*", ".hidden", true},
        {"img?.png", "img7.png", true}, {"img?.png", "img10.png", false}, {"[a-c]*", "Bosco.gif", true},
        {"[!a-c]*", "bosco.gif", false}, {"*", "", true},                {"a*b*c", "aXbYbZc", true},
        {"[x", "[x", true},           {"*.jpg", "foto.jpeg", false},
    };
    for (const auto& row : rows) EXPECT_EQ(MatchesPattern(row.pattern, row.name), row.matches) << row.pattern << " " << row.name;
}

// The shipped programs beside a stub of the test's own, in kit/.
class Slideshow : public ToolFolderTest {
protected:
    void SetUp() override {
        ToolFolderTest::SetUp();
        fs::create_directories(dir + "/kit");
        stub = Put("kit/stub.exe", MakeTestStub());
        saver = Put("kit/slideshow.scr", SampleText(4000, 1));
        uninstaller = Put("kit/uninstal.exe", SampleNoise(500, 2));
    }

    Outcome Run(const std::vector<std::string>& args) { return RunGlimmerPack(dir, args); }

    // The data file of `package`, extracted, and its index.
    std::string DataOf(const std::string& package, const std::string& stem, ShowIndex* index) {
        fs::remove_all(dir + "/out");
        Outcome extracted = Run({"extract", package, "out"});
        EXPECT_EQ(extracted.status, 0) << extracted.err;
        std::string data = ReadBytesFile(dir + "/out/" + stem + ".dat");
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
        EXPECT_EQ(ReadShowIndex(bytes, data.size(), data.size(), index), kShowOk);
        return data;
    }

    // Extracts `package` into out/.
    void ExtractAll(const std::string& package) {
        fs::remove_all(dir + "/out");
        Outcome extracted = Run({"extract", package, "out"});
        EXPECT_EQ(extracted.status, 0) << extracted.err;
    }

    static std::string Picture(const std::string& data, const ShowIndex& index, std::size_t i) {
        return data.substr(index.pictures[i].offset, index.pictures[i].size);
    }

    std::string stub, saver, uninstaller;
};

TEST_F(Slideshow, NewThenBuildGivesTheScreenSaversDataFile) {
    fs::create_directories(dir + "/Lago");
    const std::string bmp = Put("Lago/1.bmp", Bmp(3, 2));
    const std::string wide = Put("Lago/2.jpg", Jpeg(4000, 20));  // wider than 3840: scaled
    const std::string png = Put("Lago/10.png", Png(4, 4));
    Put("Lago/.hidden.png", Png(2, 2));
    Put("Lago/notes.txt", "not a picture");
    const std::string song = Put("Lago/song.mp3", SampleText(700, 3));
    Put("Lago/license.txt", "Licenza\n");

    Outcome made = Run({"new", "Lago"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string file = ReadBytesFile(dir + "/Lago/slideshow.toml");
    EXPECT_EQ(Run({"new", "Lago"}).status, 1);
    EXPECT_EQ(ReadBytesFile(dir + "/Lago/slideshow.toml"), file);
    EXPECT_EQ(Run({"new", "Lago", "--overwrite"}).status, 0);
    // Written elsewhere, its paths lead back to the folder.
    ASSERT_EQ(Run({"new", "Lago", "-o", "kit/lago.toml"}).status, 0);

    for (const char* toml : {"Lago/slideshow.toml", "kit/lago.toml"}) {
        SCOPED_TRACE(toml);
        Outcome built = Run({"build", toml, "--stub", stub, "-o", "Lago.exe"});
        ASSERT_EQ(built.status, 0) << built.err;
        ShowIndex index;
        const std::string data = DataOf("Lago.exe", "Lago", &index);
        EXPECT_EQ(index.title, "Lago");
        EXPECT_EQ(index.defaults.seconds, 8u);
        EXPECT_EQ(index.defaults.fit, kFitWhole);
        ASSERT_EQ(index.pictures.size(), 3u);
        EXPECT_EQ(Picture(data, index, 0), ReadBytesFile(bmp));
        PictureFacts facts;
        ASSERT_EQ(CheckPicture(Picture(data, index, 1), &facts), "");
        EXPECT_EQ(facts.format, PictureFormat::Jpeg);
        EXPECT_EQ(facts.width, 3840);
        EXPECT_EQ(facts.height, 19);
        EXPECT_EQ(Picture(data, index, 2), ReadBytesFile(png));
        EXPECT_EQ(ReadBytesFile(dir + "/out/Lago.scr"), ReadBytesFile(saver));
        EXPECT_EQ(ReadBytesFile(dir + "/out/UNINSTAL.EXE"), ReadBytesFile(uninstaller));
        EXPECT_EQ(ReadBytesFile(dir + "/out/FILE0001.MP3"), ReadBytesFile(song));
    }
    // Nothing but the package and the files put there.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/Lago"), fs::directory_iterator()), 8);
}

TEST_F(Slideshow, EntriesExpandInOrderSettingsAndFilesOverride) {
    fs::create_directories(dir + "/a");
    fs::create_directories(dir + "/b");
    const std::string x10 = Put("a/x10.png", Png(1, 10)), x2 = Put("a/x2.png", Png(1, 2));
    Put("a/y.jpg", Jpeg(2, 2));
    const std::string b1 = Put("b/1.png", Png(1, 1)), b2 = Put("b/2.gif", std::string(kGif, sizeof kGif - 1));
    Put("b/readme.txt", "x");
    const std::string own = Put("own.exe", "my own uninstaller");
    Put("show.toml", "title = \"Mostra\"\n"
                     "stub = \"kit/stub.exe\"\n"
                     "[files]\n"
                     "uninstaller = \"own.exe\"\n"
                     "[slideshow]\n"
                     "pictures = [\"b\", \"a/*.PNG\", \"a/x2.png\", \"./b/1.png\"]\n"
                     "seconds = 3\n"
                     "order = \"shuffled\"\n"
                     "fit = \"fill\"\n"
                     "max_size = \"off\"\n");
    Outcome built = Run({"build", "show.toml", "-o", "m.exe"});
    ASSERT_EQ(built.status, 0) << built.err;
    ShowIndex index;
    const std::string data = DataOf("m.exe", "Mostra", &index);
    EXPECT_EQ(index.defaults.seconds, 3u);
    EXPECT_EQ(index.defaults.order, kOrderShuffled);
    EXPECT_EQ(index.defaults.fit, kFitFill);
    const std::vector<std::string> expected = {b1, b2, x2, x10};  // each file once, where first named
    ASSERT_EQ(index.pictures.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(Picture(data, index, i), ReadBytesFile(expected[i])) << i;
    EXPECT_EQ(ReadBytesFile(dir + "/out/UNINSTAL.EXE"), "my own uninstaller");
}

// Any package, slideshow or not, takes the standard uninstaller beside its
// stub when it names none; a stub without one leaves it missing.
TEST_F(Slideshow, ThePackageWithoutUninstallerTakesTheShippedOne) {
    Put("own.scr", "a saver of its own");
    Put("own.dat", "its data");
    const std::vector<std::string> args = {"build", "-o", "p.exe", "--title", "P", "--saver", "own.scr", "--data", "own.dat"};
    std::vector<std::string> withKit = args;
    withKit.insert(withKit.end(), {"--stub", stub});
    Outcome built = Run(withKit);
    ASSERT_EQ(built.status, 0) << built.err;
    ExtractAll("p.exe");
    EXPECT_EQ(ReadBytesFile(dir + "/out/UNINSTAL.EXE"), ReadBytesFile(uninstaller));

    fs::create_directories(dir + "/bare");
    const std::string bare = Put("bare/stub.exe", MakeTestStub());
    std::vector<std::string> withBare = args;
    withBare.insert(withBare.end(), {"--stub", bare});
    Outcome refused = Run(withBare);
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("missing --uninstaller"), std::string::npos) << refused.err;
}

TEST_F(Slideshow, EveryRefusalAtOnceBeforeAnyOutput) {
    const std::string noise = Png(64, 64, 9);
    Put("cut.png", noise.substr(0, noise.size() / 2));
    Put("text.jpg", "plain text");
    Put("good.png", Png(2, 2));
    Put("song.ogg", "OggS");
    Put("tune.mid", "MThd");
    Put("bad.toml", "title = \"Male\"\n"
                    "[slideshow]\n"
                    "pictures = [\"good.png\", \"*.tif\", \"cut.png\", \"text.jpg\", \"none.png\"]\n"
                    "music = [\"tune.mid\", \"song.ogg\"]\n");
    Outcome o = Run({"build", "bad.toml", "--stub", stub, "-o", "m.exe"});
    EXPECT_EQ(o.status, 1);
    for (const char* said : {"bad.toml:3:25: '*.tif' matches no file", "cut.png: does not decode",
                             "text.jpg: not a JPEG, PNG, GIF or BMP", "bad.toml:3:57: 'none.png': No such file",
                             "song.ogg: not a kind of sound"})
        EXPECT_NE(o.err.find(said), std::string::npos) << said << "\n" << o.err;
    EXPECT_EQ(o.err.find("tune.mid"), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("good.png"), std::string::npos) << o.err;
    EXPECT_FALSE(fs::exists(dir + "/m.exe"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 7);  // kit and the six files
}

}  // namespace
