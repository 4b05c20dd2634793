// SPDX-License-Identifier: GPL-3.0-or-later
#include "CommandRunner.h"

namespace kelvane {

StartedCommand::~StartedCommand() = default;
CommandRunner::~CommandRunner() = default;

} // namespace kelvane
