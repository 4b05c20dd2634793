#include "CommandRunner.h"

namespace kelvane {

StartedCommand::~StartedCommand() = default;
CommandRunner::~CommandRunner() = default;

} // namespace kelvane
