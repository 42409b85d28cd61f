#pragma once
// Asked of the containers' key blocks before anyone is asked for a password: no data is
// read and nothing is written.

#include <string>
#include <vector>

#include "container/failure.h"

// Whether every container of paths opens without a password: each carries a category
// extension (what the writers make with the empty password) and its key block opens
// with the empty password. Containers that cannot tell (version 0) or cannot be read
// need one; the run that follows says why.
bool OpensWithoutPassword(const std::vector<std::string>& paths);

// What can be told of a container before its password is asked for, in the order the
// engine would tell it: the name is there, is no folder, ends in a container's extension,
// and the file can be read and has a container's head (size, signature, version,
// extensions). False with *failure set when it cannot be opened.
bool CheckBeforePassword(const std::string& path, Failure* failure);
