#pragma once
// Asked of the containers' key blocks before anyone is asked for a password: no data is
// read and nothing is written.

#include <string>
#include <vector>

// Whether every container of paths opens without a password: each carries a category
// extension (what the writers make with the empty password) and its key block opens
// with the empty password. Containers that cannot tell (version 0) or cannot be read
// need one; the run that follows says why.
bool OpensWithoutPassword(const std::vector<std::string>& paths);
