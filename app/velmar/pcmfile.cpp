#include "pcmfile.h"

#include <cstring>
#include <optional>

#include "buffer.h"
#include "framework.h"
#include "macrofile.h"
#include "pfm.h"

namespace {

constexpr WORD kTranslationTableType = 257;
constexpr DWORD kTranslationTableSize = 256;

// The typeface module loaded as a data file, and the application's own strings.
class ModuleSource : public TypefaceSource {
  public:
    explicit ModuleSource(HMODULE module) : m_module(module) {}

    std::string TypefaceName(int typeface, int &family) override {
        char text[260] = {};
        family = m_module ? LoadTypefaceName(m_module, typeface, text, sizeof text) : 0;
        return text;
    }
    // 301-305 from the typeface module, the others from the resource module; absent when
    // the module has no such string.
    std::optional<std::string> String(int id) override {
        HMODULE from = id >= 301 && id <= 305 ? m_module : AfxGetResourceHandle();
        char text[260] = {};
        if (!from || LoadStringA(from, static_cast<UINT>(id), text, sizeof text) <= 0)
            return std::nullopt;
        return std::string(text);
    }
    const std::uint8_t *TranslationTable(int id) override {
        if (!m_module)
            return nullptr;
        HRSRC info =
            FindResourceA(m_module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(kTranslationTableType));
        if (!info || SizeofResource(m_module, info) < kTranslationTableSize)
            return nullptr;
        HGLOBAL handle = LoadResource(m_module, info);
        return handle ? static_cast<const std::uint8_t *>(LockResource(handle)) : nullptr;
    }

  private:
    HMODULE m_module;
};

} // namespace

CPFMFile::CPFMFile(const char *fontPath) {
    CMacroFile reader(fontPath);
    if (!FindDescriptorLine(reader.Lines()))
        return;
    const std::string module = std::string(ProgramFolder) + "\\gorwin.DLL";
    m_typefaces.reset(LoadLibraryExA(module.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ModuleSource source(m_typefaces.get());
    if (std::optional<std::vector<std::uint8_t>> image = BuildPfmImage(reader.Lines(), source))
        m_image = std::move(*image);
}

CPFMFile::~CPFMFile() = default;

void CPFMFile::SerialisePfm(std::uint8_t *to) const {
    if (!m_image.empty())
        std::memcpy(to, m_image.data(), m_image.size());
}

CPCMFile::~CPCMFile() {
    for (CPFMFile *entry : m_entries)
        delete entry;
}

void CPCMFile::Add(CPFMFile *entry) {
    if (entry && entry->HasImage())
        m_entries.push_back(entry);
    else
        delete entry;
}

std::vector<std::uint8_t> CPCMFile::BuildPackage() const {
    std::vector<std::vector<std::uint8_t>> images;
    for (const CPFMFile *entry : m_entries) {
        images.emplace_back(entry->GetPfmSize());
        entry->SerialisePfm(images.back().data());
    }
    return PackPcm(images);
}

void WritePcmPackage(const std::vector<std::string> &fontPaths) {
    CPCMFile list;
    for (const std::string &path : fontPaths)
        list.Add(new CPFMFile(path.c_str()));
    if (list.IsEmpty())
        return;
    const std::vector<std::uint8_t> package = list.BuildPackage();
    if (package.size() > 0xFFFFFFFFu)
        return;
    WriteWholeFile((std::string(ProgramFolder) + "\\Wyr.PCM").c_str(), package.data(),
                   static_cast<DWORD>(package.size()));
}
