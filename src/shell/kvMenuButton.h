// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPushButton>

namespace kelvane {

// A push button whose caption wraps onto several lines, for the narrow
// menu column; the access key ("&") works as on any button.
class TkvMenuButton : public QPushButton
{
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace kelvane
