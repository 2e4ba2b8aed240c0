#include "registrar.h"

#include <cwctype>
#include <memory>

namespace quenta {
namespace {

enum class KeyMode { Plain, ForceRemove, NoRemove, Delete };

struct Node {
    KeyMode mode = KeyMode::Plain;
    bool isValue = false;
    std::wstring name;
    bool hasData = false;
    wchar_t type = L's'; // 's' text, 'd' number
    std::wstring text;
    DWORD number = 0;
    std::vector<Node> children;
};

struct Root {
    HKEY key;
    std::vector<Node> children;
};

struct Token {
    std::wstring text;
    bool quoted = false;
    bool Is(const wchar_t *word) const { return !quoted && _wcsicmp(text.c_str(), word) == 0; }
};

std::wstring Substitute(std::wstring_view script, const Replacements &replacements, bool &ok) {
    std::wstring out;
    for (std::size_t i = 0; i < script.size(); ++i) {
        if (script[i] != L'%') {
            out += script[i];
            continue;
        }
        const std::size_t end = script.find(L'%', i + 1);
        if (end == std::wstring_view::npos) {
            ok = false;
            return out;
        }
        const std::wstring_view word = script.substr(i + 1, end - i - 1);
        if (word.empty()) {
            out += L'%';
        } else {
            bool found = false;
            for (const auto &[key, value] : replacements) {
                if (_wcsnicmp(key.c_str(), word.data(), word.size()) != 0 ||
                    key.size() != word.size())
                    continue;
                for (wchar_t c : value) {
                    out += c;
                    if (c == L'\'')
                        out += L'\'';
                }
                found = true;
                break;
            }
            if (!found) {
                ok = false;
                return out;
            }
        }
        i = end;
    }
    return out;
}

bool Tokenize(const std::wstring &text, std::vector<Token> &tokens) {
    std::size_t i = 0;
    while (i < text.size()) {
        const wchar_t c = text[i];
        if (std::iswspace(c)) {
            ++i;
        } else if (c == L'\'') {
            Token token{std::wstring(), true};
            ++i;
            for (;;) {
                if (i >= text.size())
                    return false;
                if (text[i] == L'\'') {
                    if (i + 1 < text.size() && text[i + 1] == L'\'') {
                        token.text += L'\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                token.text += text[i++];
            }
            tokens.push_back(std::move(token));
        } else {
            Token token;
            // A bare word runs to the next white space, so a name such as {GUID} stays whole.
            while (i < text.size() && !std::iswspace(text[i]))
                token.text += text[i++];
            tokens.push_back(std::move(token));
        }
    }
    return true;
}

class Parser {
  public:
    explicit Parser(const std::vector<Token> &tokens) : m_tokens(tokens) {}

    bool Script(std::vector<Root> &roots) {
        while (m_at < m_tokens.size()) {
            Root root{};
            if (!RootKey(Next(), root.key) || !Expect(L"{") || !Keys(root.children, 0))
                return false;
            roots.push_back(std::move(root));
        }
        return true;
    }

  private:
    static constexpr int kMaxDepth = 32;

    const Token *Peek() const { return m_at < m_tokens.size() ? &m_tokens[m_at] : nullptr; }
    const Token *Next() { return m_at < m_tokens.size() ? &m_tokens[m_at++] : nullptr; }
    bool Expect(const wchar_t *word) {
        const Token *t = Next();
        return t && t->Is(word);
    }

    static bool RootKey(const Token *t, HKEY &key) {
        if (!t || t->quoted)
            return false;
        struct Name {
            const wchar_t *shortName, *longName;
            HKEY key;
        };
        static const Name names[] = {
            {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
            {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
            {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
            {L"HKU", L"HKEY_USERS", HKEY_USERS},
        };
        for (const Name &name : names)
            if (t->Is(name.shortName) || t->Is(name.longName)) {
                key = name.key;
                return true;
            }
        return false;
    }

    // Keys up to and including the closing brace.
    bool Keys(std::vector<Node> &nodes, int depth) {
        if (depth > kMaxDepth)
            return false;
        for (;;) {
            const Token *t = Next();
            if (!t)
                return false;
            if (t->Is(L"}"))
                return true;
            Node node;
            if (t->Is(L"ForceRemove")) {
                node.mode = KeyMode::ForceRemove;
                t = Next();
            } else if (t->Is(L"NoRemove")) {
                node.mode = KeyMode::NoRemove;
                t = Next();
            } else if (t->Is(L"Delete")) {
                node.mode = KeyMode::Delete;
                t = Next();
            }
            if (t && t->Is(L"val")) {
                node.isValue = true;
                t = Next();
            }
            if (!t || (!t->quoted && (t->Is(L"{") || t->Is(L"}") || t->Is(L"="))))
                return false;
            node.name = t->text;
            const Token *p = Peek();
            if (p && p->Is(L"=")) {
                ++m_at;
                const Token *type = Next();
                const Token *data = Next();
                if (!type || !data || (!type->Is(L"s") && !type->Is(L"d")))
                    return false;
                node.hasData = true;
                node.type = type->Is(L"d") ? L'd' : L's';
                if (node.type == L's') {
                    node.text = data->text;
                } else {
                    wchar_t *end = nullptr;
                    node.number = static_cast<DWORD>(std::wcstoul(data->text.c_str(), &end, 0));
                    if (data->text.empty() || *end)
                        return false;
                }
            }
            if (node.isValue && !node.hasData)
                return false;
            p = Peek();
            if (p && p->Is(L"{")) {
                if (node.isValue)
                    return false;
                ++m_at;
                if (!Keys(node.children, depth + 1))
                    return false;
            }
            nodes.push_back(std::move(node));
        }
    }

    const std::vector<Token> &m_tokens;
    std::size_t m_at = 0;
};

HRESULT FromStatus(LONG status) {
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

LONG SetData(HKEY key, const wchar_t *name, const Node &node) {
    if (node.type == L'd')
        return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE *>(&node.number),
                              sizeof node.number);
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(node.text.c_str()),
                          static_cast<DWORD>((node.text.size() + 1) * sizeof(wchar_t)));
}

LONG DeleteTree(HKEY parent, const std::wstring &name) {
    const LONG status = RegDeleteTreeW(parent, name.c_str());
    if (status == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS)
        return status;
    const LONG removed = RegDeleteKeyW(parent, name.c_str());
    return removed == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : removed;
}

LONG Register(HKEY parent, const std::vector<Node> &nodes) {
    for (const Node &node : nodes) {
        if (node.isValue) {
            if (const LONG status = SetData(parent, node.name.c_str(), node);
                status != ERROR_SUCCESS)
                return status;
            continue;
        }
        if (node.mode == KeyMode::Delete || node.mode == KeyMode::ForceRemove) {
            if (const LONG status = DeleteTree(parent, node.name); status != ERROR_SUCCESS)
                return status;
            if (node.mode == KeyMode::Delete)
                continue;
        }
        HKEY key = nullptr;
        LONG status = RegCreateKeyExW(parent, node.name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                      nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS)
            return status;
        if (node.hasData)
            status = SetData(key, nullptr, node);
        if (status == ERROR_SUCCESS)
            status = Register(key, node.children);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

bool HasSubkeys(HKEY key) {
    DWORD subkeys = 0;
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
           subkeys != 0;
}

LONG Unregister(HKEY parent, const std::vector<Node> &nodes) {
    for (const Node &node : nodes) {
        if (node.isValue) {
            const LONG status = RegDeleteValueW(parent, node.name.c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                return status;
            continue;
        }
        if (node.mode == KeyMode::Delete || node.mode == KeyMode::ForceRemove) {
            if (const LONG status = DeleteTree(parent, node.name); status != ERROR_SUCCESS)
                return status;
            continue;
        }
        HKEY key = nullptr;
        LONG status = RegOpenKeyExW(parent, node.name.c_str(), 0, KEY_ALL_ACCESS, &key);
        if (status == ERROR_FILE_NOT_FOUND)
            continue;
        if (status != ERROR_SUCCESS)
            return status;
        status = Unregister(key, node.children);
        const bool keep = node.mode == KeyMode::NoRemove || HasSubkeys(key);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS)
            return status;
        if (!keep) {
            status = RegDeleteKeyW(parent, node.name.c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                return status;
        }
    }
    return ERROR_SUCCESS;
}

} // namespace

HRESULT RunRegistryScript(std::wstring_view script, const Replacements &replacements,
                          bool registering) {
    bool ok = true;
    const std::wstring text = Substitute(script, replacements, ok);
    std::vector<Token> tokens;
    if (!ok || !Tokenize(text, tokens))
        return E_INVALIDARG;
    std::vector<Root> roots;
    if (!Parser(tokens).Script(roots))
        return E_INVALIDARG;
    for (const Root &root : roots) {
        const LONG status =
            registering ? Register(root.key, root.children) : Unregister(root.key, root.children);
        if (status != ERROR_SUCCESS)
            return FromStatus(status);
    }
    return S_OK;
}

} // namespace quenta
