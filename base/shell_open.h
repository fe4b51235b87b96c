// The program's one way of opening an address, a document or a folder.
#pragma once

#include <string>

namespace nimbrel {

// Opens Target with the shell's "open" verb. Failures are not reported.
void ShellOpen(const std::wstring& Target);

}  // namespace nimbrel
