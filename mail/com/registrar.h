// Runs a registry script of the form the module carries as its REGISTRY resource:
//
//   HKCR { [ForceRemove|NoRemove|Delete] [val] name [= s 'text' | = d number] [{ ... }] }
//
// %WORD% is replaced from the table (apostrophes in a value are doubled, so the value stays
// one quoted string) and '' inside a quoted name or text is one apostrophe. Words, braces and
// '=' are separated by white space. The whole script
// is parsed before the registry is touched.
//
// Registering creates the keys and sets the values; a ForceRemove key is deleted with its
// subkeys first, a Delete key is deleted. Unregistering deletes ForceRemove and Delete keys
// with everything below them, removes named values, keeps NoRemove keys, and deletes any other
// key once what the script names below it is gone, unless a subkey it did not name remains.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quenta {

using Replacements = std::vector<std::pair<std::wstring, std::wstring>>;

// S_OK, E_INVALIDARG for a script that does not parse (nothing written), or the failing
// registry call's status as an HRESULT.
HRESULT RunRegistryScript(std::wstring_view script, const Replacements &replacements,
                          bool registering);

} // namespace quenta
