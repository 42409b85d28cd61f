#pragma once
// One run for one selection. Explorer starts a command verb once per selected file,
// whatever the verb's MultiSelectModel says; without this, encrypting three files would
// ask for the password three times. The runs of one road started together agree on one
// of them, the gatherer, which takes the files of the others. Each other run hands its
// files only to a gatherer of its own user and session whose integrity level is at
// least its own (a sandboxed process of the same user cannot swallow them), and ends
// once the gatherer has finished its work on them (never on the mere hope of it); a
// gatherer that ends before that (killed, crashed) gives them back: the runs it had
// taken them from gather again, and one of them runs them.
//
// Only Windows starts a run per file: elsewhere (file managers pass the whole selection)
// nothing is gathered.

#include <memory>
#include <string>
#include <vector>

class SelectionGathering {
 public:
  SelectionGathering();
  // The gatherer's runs are told here that its work has ended: keep the object until
  // every gathered file has been worked on.
  ~SelectionGathering();
  SelectionGathering(const SelectionGathering&) = delete;
  SelectionGathering& operator=(const SelectionGathering&) = delete;

  // road names the verb ("Encrypt"); files: this run's files, to which the gatherer adds
  // the others' in the order they came. True when this run is to go on (it gathered, or
  // no gatherer could be reached: it then works alone); false when another run took its
  // files and has finished with them. A run waits for the others until none has come for
  // about a second.
  bool Gather(const std::string& road, std::vector<std::string>& files);

 private:
  struct State;
  std::unique_ptr<State> m_state;
};
