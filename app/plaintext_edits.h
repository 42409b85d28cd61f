#pragma once
// What the viewer does with a file the user changed or made in the working folder, once
// the user has chosen: encrypt it back into its container, or move it beside the
// container. Neither ever replaces a file of the user's other than the container itself,
// and neither leaves a half-written file under a final name: every output is written
// new beside its place and moved there once complete.

#include <cstdint>
#include <string>

#include "container/password_rule.h"
#include "jobs/job_runner.h"
#include "platform/private_folder.h"

// Encrypts name (in folder) through jobs, as the encryption road would (its progress
// window and error boxes), with the candidate of passwords that opens container (where
// the container cannot tell without its data, the first it is tried with), and puts the
// result in place of container, which keeps its name; a read-only container is not
// replaced. name is removed from folder once the container is in place. 0 on
// success; otherwise the system's code (0 is never returned for a failure the job showed:
// kSaveBackFailed then), and name is left where it was.
uint32_t SaveBackIntoContainer(JobRunner& jobs, const PrivateFolder& folder, const std::string& name,
                               const std::string& container, const PasswordCandidates& passwords);
// The code SaveBackIntoContainer returns when the job itself failed (and showed why).
extern const uint32_t kSaveBackFailed;

// Moves name (in folder) beside container, under the same name or, where that is taken,
// the first free numbered one ("a (2).docx" …); never over anything. The container's
// origin mark goes with it (Windows). 0 with *kept set to the new path, or the system's
// code with name left where it was.
uint32_t KeepBesideContainer(const PrivateFolder& folder, const std::string& name, const std::string& container,
                             std::string* kept);
