#include "hostile/hostile_corpus.h"

#include <cstdint>
#include <functional>

#include "payload/payload.h"

namespace {

// Where the parts of a stub's PE header lie, found the way the installer
// finds them.
struct StubLayout {
    std::uint32_t peHeader;       // "PE\0\0"
    std::uint32_t fileHeader;     // NumberOfSections at +2
    std::uint32_t rsrcHeader;     // the ".rsrc" section header
    std::uint32_t resourceRaw;    // its PointerToRawData
    std::uint32_t rootEntry;      // the first entry of the root directory
    std::uint32_t dataEntry;      // the first resource's data entry
};

StubLayout LayoutOf(const std::string& stub) {
    StubLayout l;
    l.peHeader = PeekU32(stub, 60);
    l.fileHeader = l.peHeader + 4;
    const std::uint32_t table = l.fileHeader + 20 + 224;
    l.rsrcHeader = table;
    while (stub.compare(l.rsrcHeader, 6, std::string(".rsrc\0", 6)) != 0) l.rsrcHeader += 40;
    l.resourceRaw = PeekU32(stub, l.rsrcHeader + 20);
    l.rootEntry = l.resourceRaw + 16;
    const std::uint32_t names = l.resourceRaw + 16 + (PeekU32(stub, l.rootEntry + 4) & 0x7FFFFFFFu);
    const std::uint32_t languages = l.resourceRaw + 16 + (PeekU32(stub, names + 4) & 0x7FFFFFFFu);
    l.dataEntry = l.resourceRaw + PeekU32(stub, languages + 4);
    return l;
}

// File record fields.
constexpr std::uint32_t kOffsetField = 0, kStoredField = 4, kUnpackedField = 8, kExtensionField = 12,
                        kKindField = 27;

class Corpus {
public:
    explicit Corpus(const std::string& stub)
        : stub_(stub), layout_(LayoutOf(stub)), package_(HostileBasePackage()), base_(BuildPackageBytes(package_, stub)) {}

    const std::string& Stub() const { return stub_; }
    const StubLayout& Layout() const { return layout_; }
    const std::string& Base() const { return base_; }
    std::uint32_t Payload() const { return PayloadStartOf(base_); }
    std::uint32_t License() const { return Payload() + 2; }
    std::uint32_t Title() const { return TitleOffsetOf(base_); }
    std::uint32_t NumberingBase() const { return BaseOffsetOf(base_); }
    std::uint32_t Record(std::size_t index) const { return RecordOffsetOf(base_, index); }
    std::size_t Files() const { return package_.entries.size(); }
    std::uint32_t Field(std::size_t index, std::uint32_t field) const { return PeekU32(base_, Record(index) + field); }
    bool Packed(std::size_t index) const { return Field(index, kUnpackedField) != 0; }

    void Add(const std::string& group, const std::string& name, std::string bytes, StubVerdict stub,
             bool verifyRefuses = true) {
        cases_.push_back({group + "-" + name, group, std::move(bytes), stub, verifyRefuses});
    }
    // The base package changed by `edit`.
    void Edit(const std::string& group, const std::string& name, const std::function<void(std::string&)>& edit,
              StubVerdict stub, bool verifyRefuses = true) {
        std::string bytes = base_;
        edit(bytes);
        Add(group, name, std::move(bytes), stub, verifyRefuses);
    }
    // The base package cut to `length` bytes.
    void Cut(const std::string& name, std::uint32_t length) {
        Add("truncated", name, base_.substr(0, length), StubVerdict::Damaged);
    }
    // A package built from the base with another title.
    void Titled(const std::string& group, const std::string& name, const std::string& title, StubVerdict stub,
                bool verifyRefuses = true) {
        TestPackage p = package_;
        p.title = title;
        Add(group, name, BuildPackageBytes(p, stub_), stub, verifyRefuses);
    }
    // The base package with record `index`'s 15-byte extension field
    // replaced (padded with blanks, as the builder would).
    void Extension(const std::string& name, std::size_t index, const std::string& field, StubVerdict stub,
                   bool verifyRefuses = true) {
        Edit("extension", name,
             [&](std::string& b) {
                 std::string padded = field;
                 padded.resize(kExtensionSize, ' ');
                 b.replace(Record(index) + kExtensionField, kExtensionSize, padded);
             },
             stub, verifyRefuses);
    }

    std::vector<HostileCase> Take() { return std::move(cases_); }

private:
    std::string stub_;
    StubLayout layout_;
    TestPackage package_;
    std::string base_;
    std::vector<HostileCase> cases_;
};

void AddNotInstallers(Corpus& c) {
    const std::string& stub = c.Stub();
    c.Add("not-pe", "empty-file", "", StubVerdict::Damaged);
    c.Add("not-pe", "text-file", "Questo non \xe8 un programma.\r\n", StubVerdict::Damaged);
    c.Add("not-pe", "noise", SampleNoise(4096, 91), StubVerdict::Damaged);
    c.Add("not-pe", "mz-only", "MZ", StubVerdict::Damaged);
    c.Add("not-pe", "mz-header-only", stub.substr(0, 64), StubVerdict::Damaged);
    std::string far = c.Base();
    PokeU32(far, 60, 0x7FFFFFF0u);
    c.Add("not-pe", "pe-header-past-end", far, StubVerdict::Damaged);
    std::string wrapped = c.Base();
    PokeU32(wrapped, 60, 0xFFFFFFF0u);
    c.Add("not-pe", "pe-header-offset-wraps", wrapped, StubVerdict::Damaged);
    std::string signature = c.Base();
    signature.replace(c.Layout().peHeader, 4, std::string("NE\0\0", 4));
    c.Add("not-pe", "no-pe-signature", signature, StubVerdict::Damaged);
}

void AddBrokenResources(Corpus& c) {
    const StubLayout& l = c.Layout();
    const std::uint32_t rsrcHeader = l.rsrcHeader, fileHeader = l.fileHeader;
    c.Edit("pe", "no-rsrc-section", [&](std::string& b) { b.replace(rsrcHeader, 8, std::string(".rsrx\0\0\0", 8)); },
           StubVerdict::Damaged);
    c.Edit("pe", "no-sections", [&](std::string& b) { PokeU16(b, fileHeader + 2, 0); }, StubVerdict::Damaged);
    c.Edit("pe", "section-count-past-end", [&](std::string& b) {
        PokeU16(b, fileHeader + 2, 0xFFFF);
        b.replace(rsrcHeader, 8, std::string(".rsrx\0\0\0", 8));
    }, StubVerdict::Damaged);
    c.Edit("pe", "rsrc-raw-data-past-end", [&](std::string& b) { PokeU32(b, rsrcHeader + 20, 0x7FFF0000u); },
           StubVerdict::Damaged);
    c.Edit("pe", "rsrc-raw-data-wraps", [&](std::string& b) { PokeU32(b, rsrcHeader + 20, 0xFFFFFFF8u); },
           StubVerdict::Damaged);
    // A root directory that holds no entries: the walk reads zeros where
    // its first entry would be.
    c.Edit("pe", "empty-resource-tree", [&](std::string& b) {
        b.replace(l.resourceRaw, 24, std::string(24, '\0'));
    }, StubVerdict::Damaged);
    // The type entry leads back to the root directory, as a subdirectory
    // and as a data entry.
    c.Edit("pe", "resource-tree-loop", [&](std::string& b) { PokeU32(b, l.rootEntry + 4, 0x80000000u); },
           StubVerdict::Damaged);
    c.Edit("pe", "resource-tree-loop-to-data", [&](std::string& b) { PokeU32(b, l.rootEntry + 4, 0); },
           StubVerdict::Damaged);
    // The data entry's address lies before the section or far behind it.
    const std::uint32_t dataEntry = l.dataEntry;
    c.Edit("pe", "anchor-before-section", [&](std::string& b) { PokeU32(b, dataEntry, 0x100); }, StubVerdict::Damaged);
    c.Edit("pe", "anchor-past-end", [&](std::string& b) { PokeU32(b, dataEntry, 0x7FFF0000u); },
           StubVerdict::Damaged);
    c.Edit("pe", "anchor-offset-wraps", [&](std::string& b) { PokeU32(b, dataEntry, 0xFFFFFFF0u); },
           StubVerdict::Damaged);
}

void AddTruncations(Corpus& c) {
    const StubLayout& l = c.Layout();
    c.Cut("inside-dos-header", 30);
    c.Cut("inside-pe-header", l.fileHeader + 10);
    c.Cut("inside-optional-header", l.fileHeader + 120);
    c.Cut("inside-section-table", l.fileHeader + 20 + 224 + 50);
    c.Cut("inside-resource-tree", l.resourceRaw + 20);
    c.Cut("at-payload", c.Payload());
    c.Cut("inside-license-length", c.Payload() + 1);
    c.Cut("before-license-text", c.License());
    c.Cut("inside-license-text", c.License() + (c.Title() - c.License()) / 2);
    c.Cut("before-title", c.Title());
    c.Cut("inside-title", c.Title() + 3);
    c.Cut("title-last-byte-missing", c.Title() + kTitleSize - 1);
    c.Cut("before-numbering-base", c.NumberingBase());
    c.Cut("inside-numbering-base", c.NumberingBase() + 1);
    static const struct {
        std::uint32_t at;
        const char* name;
    } kFields[] = {{kOffsetField, "offset"},
                   {kStoredField, "stored-size"},
                   {kUnpackedField, "unpacked-size"},
                   {kExtensionField, "extension"},
                   {kKindField, "kind"}};
    // Every record, the terminator included: before each field.
    for (std::size_t r = 0; r <= c.Files(); ++r)
        for (const auto& f : kFields)
            c.Cut("record-" + std::to_string(r) + "-before-" + f.name, c.Record(r) + f.at);
    c.Cut("catalogue-whole-no-data", c.Record(c.Files()) + kRecordSize);
    // Inside every entry's data: one byte in, half way, one byte short.
    for (std::size_t r = 0; r < c.Files(); ++r) {
        std::uint32_t start = c.Field(r, kOffsetField), size = c.Field(r, kStoredField);
        std::string e = "entry-" + std::to_string(r);
        c.Cut(e + "-one-byte-in", start + 1);
        c.Cut(e + "-half-way", start + size / 2);
        c.Cut(e + "-one-byte-short", start + size - 1);
    }
}

void AddBadRecords(Corpus& c) {
    const auto size = static_cast<std::uint32_t>(c.Base().size());
    for (std::size_t r : {std::size_t{0}, std::size_t{2}, std::size_t{4}}) {
        const std::string at = "record-" + std::to_string(r) + "-";
        const std::uint32_t offset = c.Field(r, kOffsetField);
        auto poke = [&](std::uint32_t field, std::uint32_t value) {
            return [&c, r, field, value](std::string& b) { PokeU32(b, c.Record(r) + field, value); };
        };
        c.Edit("records", at + "offset-at-end", poke(kOffsetField, size), StubVerdict::Damaged);
        c.Edit("records", at + "offset-ffffffff", poke(kOffsetField, 0xFFFFFFFFu), StubVerdict::Damaged);
        c.Edit("records", at + "offset-2-31", poke(kOffsetField, 0x80000000u), StubVerdict::Damaged);
        c.Edit("records", at + "size-one-past-end", poke(kStoredField, size - offset + 1), StubVerdict::Damaged);
        c.Edit("records", at + "size-ffffffff", poke(kStoredField, 0xFFFFFFFFu), StubVerdict::Damaged);
        c.Edit("records", at + "offset-plus-size-wraps", [&c, r](std::string& b) {
            PokeU32(b, c.Record(r) + kOffsetField, 0xFFFFFF00u);
            PokeU32(b, c.Record(r) + kStoredField, 0x200);
        }, StubVerdict::Damaged);
        c.Edit("records", at + "unpacked-2-31", poke(kUnpackedField, 0x80000000u), StubVerdict::Damaged);
        c.Edit("records", at + "unpacked-ffffffff", poke(kUnpackedField, 0xFFFFFFFFu), StubVerdict::Damaged);
    }
    // No terminator: its stored size made non-zero, so the walk reads on
    // into the entries' data as records.
    c.Edit("records", "terminator-overwritten", [&c](std::string& b) {
        PokeU32(b, c.Record(c.Files()) + kOffsetField, c.Payload());
        PokeU32(b, c.Record(c.Files()) + kStoredField, 1);
    }, StubVerdict::Damaged);
    // Thousands of well-formed records and no terminator: the file ends on
    // a record boundary.
    {
        std::string b = c.Base().substr(0, c.Record(0));
        std::string record(kRecordSize, ' ');
        PokeU32(record, kOffsetField, c.Payload());
        PokeU32(record, kStoredField, 1);
        PokeU32(record, kUnpackedField, 0);
        record.replace(kExtensionField, 4, ".MP3");
        for (int i = 0; i < 3000; ++i) b += record;
        c.Add("records", "flood-without-terminator", b, StubVerdict::Damaged);
    }
    // The license length runs past the end of the file.
    c.Edit("license", "length-ffff", [&c](std::string& b) { PokeU16(b, c.Payload(), 0xFFFF); }, StubVerdict::Damaged);
    {
        std::string b = c.Base().substr(0, c.Title() + 100);
        PokeU16(b, c.Payload(), static_cast<std::uint16_t>(b.size() - c.License() + 1));
        c.Add("license", "length-one-past-end", b, StubVerdict::Damaged);
    }
    // The title field without its NUL.
    c.Edit("title", "no-nul", [&c](std::string& b) { b.replace(c.Title(), kTitleSize, std::string(kTitleSize, 'A')); },
           StubVerdict::Damaged);
    c.Edit("title", "no-nul-separators", [&c](std::string& b) {
        std::string field;
        while (field.size() < kTitleSize) field += "..\\";
        b.replace(c.Title(), kTitleSize, field.substr(0, kTitleSize));
    }, StubVerdict::Damaged);
}

void AddTitles(Corpus& c) {
    struct Title {
        const char* name;
        std::string text;
    };
    const Title bad[] = {
        {"parent-folders", "..\\..\\WINDOWS\\system32\\evil"},
        {"slash-parent", "../../evil"},
        {"backslash", "Aurora\\evil"},
        {"slash", "Aurora/evil"},
        {"dot", "."},
        {"dot-dot", ".."},
        {"drive-relative", "C:evil"},
        {"drive-absolute", "C:\\evil"},
        {"unc", "\\\\server\\share\\evil"},
        {"alternate-stream", "Aurora:evil"},
        {"device-con", "CON"},
        {"device-nul-lower", "nul"},
        {"device-aux-extension", "AUX.txt"},
        {"device-prn-blank-extension", "PRN .x"},
        {"device-com1", "COM1"},
        {"device-com-superscript", "COM\xb9"},
        {"device-lpt9", "lpt9"},
        {"control-soh", "Aurora\x01"},
        {"control-tab", "Au\trora"},
        {"control-escape", "\x1b[31mAurora"},
        {"control-newline", "Aurora\r\nevil"},
        {"asterisk", "Au*ora"},
        {"question", "Au?ora"},
        {"quote", "Au\"ora"},
        {"less", "Au<ora"},
        {"greater", "Au>ora"},
        {"pipe", "Au|ora"},
        {"empty", ""},
        {"blank", "   "},
        {"one-blank", " "},
        {"too-long-for-its-name", std::string(258, 'a')},
    };
    for (const Title& t : bad) c.Titled("title", t.name, t.text, StubVerdict::BadName);

    // Sound names whose folders do not fit on the machine: the installer
    // refuses them; verify, which does not know the target's folders,
    // cannot.
    c.Titled("title", "long-for-the-data-folder", std::string(200, 'a'), StubVerdict::TooLong, false);

    // Odd but harmless titles: installed, inside the two places only.
    c.Titled("title", "format-directives", "%s%n%x%p%s", StubVerdict::Installs, false);
    c.Titled("title", "leading-blank", " Aurora", StubVerdict::Installs, false);
    c.Titled("title", "trailing-blanks", "Aurora   ", StubVerdict::Installs, false);
    c.Titled("title", "code-page-letters", "Aurora \xe0\xe8\xec\xf2\xf9 \x80\x92", StubVerdict::Installs, false);
    c.Titled("title", "dots-inside", "Mr. X. Aurora", StubVerdict::Installs, false);
    // Windows drops the final dot from the folder's name for every program
    // alike, so the uninstaller still finds what was written.
    c.Titled("title", "trailing-dot", "Aurora.", StubVerdict::Installs, false);
}

void AddExtensions(Corpus& c) {
    const std::size_t media = 3;  // the first media record
    struct Field {
        const char* name;
        std::string text;
    };
    const Field bad[] = {
        {"parent-folders", "\\..\\..\\..\\x"},
        {"slash-parent", "/../../../x"},
        {"after-dot", ".MP3\\..\\..\\x"},
        {"drive", "C:\\x"},
        {"alternate-stream", ".MP3:evil"},
        {"asterisk", ".M*3"},
        {"question", ".M?3"},
        {"quote", ".M\"3"},
        {"less", ".M<3"},
        {"greater", ".M>3"},
        {"pipe", ".M|3"},
        {"control-soh", ".MP\x01"},
        {"control-unit-separator", ".MP\x1f"},
        {"control-tab", ".MP3\t"},
    };
    for (const Field& f : bad) c.Extension(f.name, media, f.text, StubVerdict::BadName);
    c.Extension("last-media-parent-folders", media + 1, "\\..\\x", StubVerdict::BadName);

    // Harmless: a separator after the field's first zero is never read, and
    // records 0 to 2 do not use their extension at all.
    c.Extension("separator-after-zero", media, std::string(".MP3\0\\..\\..\\x", 13), StubVerdict::Installs, false);
    c.Extension("all-zero", media, std::string(kExtensionSize, '\0'), StubVerdict::Installs, false);
    c.Extension("fifteen-characters", media, ".ABCDEFGHIJKLMN", StubVerdict::Installs, false);
    c.Extension("unused-on-data-file", 1, "\\..\\..\\x", StubVerdict::Installs, false);
    c.Extension("unused-on-uninstaller", 2, "C:\\x", StubVerdict::Installs, false);
}

void AddPackedStreams(Corpus& c) {
    for (std::size_t r = 0; r < c.Files(); ++r) {
        if (!c.Packed(r)) continue;
        const std::string at = "record-" + std::to_string(r) + "-";
        const std::uint32_t offset = c.Field(r, kOffsetField), stored = c.Field(r, kStoredField),
                            unpacked = c.Field(r, kUnpackedField);
        for (unsigned seed : {1u, 2u, 3u}) {
            c.Edit("stream", at + "noise-" + std::to_string(seed), [=](std::string& b) {
                b.replace(offset, stored, SampleNoise(stored, 100 * static_cast<unsigned>(r) + seed));
            }, StubVerdict::Damaged);
        }
        c.Edit("stream", at + "zeros", [=](std::string& b) { b.replace(offset, stored, std::string(stored, '\0')); },
               StubVerdict::Damaged);
        c.Edit("stream", at + "ones", [=](std::string& b) { b.replace(offset, stored, std::string(stored, '\xff')); },
               StubVerdict::Damaged);
        // Not here: a stream with a byte or two changed. The format has no
        // check value, and when the code falls back into step (it often
        // does) the stream reads as a sound one with some bytes wrong; which
        // ones do depends on the encoder's choices, not on the installer.
        // Sound bytes, wrong sizes: the stream runs out before the unpacked
        // size, or stops with stored bytes left over.
        auto poke = [&c, r](std::uint32_t field, std::uint32_t value) {
            return [&c, r, field, value](std::string& b) { PokeU32(b, c.Record(r) + field, value); };
        };
        c.Edit("stream", at + "unpacked-larger", poke(kUnpackedField, unpacked + 1000), StubVerdict::Damaged);
        c.Edit("stream", at + "unpacked-2-31-less-1", poke(kUnpackedField, 0x7FFFFFFFu), StubVerdict::Damaged);
        c.Edit("stream", at + "unpacked-smaller", poke(kUnpackedField, unpacked / 2), StubVerdict::Damaged);
        c.Edit("stream", at + "stored-shorter", poke(kStoredField, stored / 2), StubVerdict::Damaged);
    }
}

}  // namespace

TestPackage HostileBasePackage() {
    TestPackage p;
    p.title = "Aurora";
    p.license = "Termini d'uso: questo screen saver \xe8 offerto cos\xec com'\xe8.\r\n";
    p.base = 14;
    p.entries.push_back({"SAVER" + SampleNoise(3000, 11)});
    p.entries.push_back({"DATA" + SampleText(9000, 12), true});
    p.entries.push_back({"UNINSTALLER" + SampleNoise(2500, 13)});
    p.entries.push_back({SampleNoise(1500, 14), false, ".MP3"});
    p.entries.push_back({SampleText(7000, 15), true, ".OGG", '_'});
    return p;
}

std::vector<HostileCase> MakeHostileCorpus(const std::string& stub) {
    Corpus c(stub);
    AddNotInstallers(c);
    AddBrokenResources(c);
    AddTruncations(c);
    AddBadRecords(c);
    AddTitles(c);
    AddExtensions(c);
    AddPackedStreams(c);
    return c.Take();
}

const char* VerdictName(StubVerdict verdict) {
    switch (verdict) {
    case StubVerdict::Damaged: return "Damaged";
    case StubVerdict::BadName: return "BadName";
    case StubVerdict::TooLong: return "TooLong";
    case StubVerdict::Installs: return "Installs";
    }
    return "?";
}
