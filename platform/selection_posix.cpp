#include "platform/selection.h"

struct SelectionGathering::State {};

SelectionGathering::SelectionGathering() = default;
SelectionGathering::~SelectionGathering() = default;

bool SelectionGathering::Gather(const std::string&, std::vector<std::string>&) { return true; }
