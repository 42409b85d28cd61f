#pragma once
// The commands of qv3. Each returns the process's exit status: 0 when every file
// succeeded, 1 when a failure was reported, 2 for a usage error, 130 when
// interrupted with Ctrl-C.

#include <string>
#include <vector>

int RunInspect(const std::vector<std::string>& args);
int RunDecrypt(const std::vector<std::string>& args);
int RunEncrypt(const std::vector<std::string>& args);

// Prints "qv3: error: " and text to stderr.
void PrintError(const std::string& text);

// A usage error's text: the command, what is wrong, and where its help is.
std::string UsageText(const std::string& command, const std::string& text);
