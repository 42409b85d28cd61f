#pragma once
// One run for one selection. Explorer starts a command verb once per selected file,
// whatever the verb's MultiSelectModel says; without this, encrypting three files would
// ask for the password three times. The runs of one road started together agree on one
// of them, the gatherer, which takes the files of the others; each other run ends once
// the gatherer has said it took its files (never on the mere hope of it).
//
// Only Windows starts a run per file: elsewhere (file managers pass the whole selection)
// nothing is gathered.

#include <string>
#include <vector>

// road names the verb ("Encrypt"); files: this run's files, to which the gatherer adds
// the others' in the order they came. True when this run is to go on (it gathered, or
// no gatherer could be reached: it then works alone); false when another run took its
// files. Runs of another user or session never meet. A run waits for the others until
// none has come for about a second.
bool GatherSelection(const std::string& road, std::vector<std::string>& files);
