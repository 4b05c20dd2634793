// SPDX-License-Identifier: GPL-3.0-or-later
#include "kvProgramLayout.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace kelvane::programlayout {

TkvPlacedPanel::TkvPlacedPanel(const QString &name, QSize designSize, QWidget *parent)
    : QFrame(parent)
    , m_designSize(designSize)
{
    setObjectName(name);
}

void TkvPlacedPanel::place(QWidget *child, QRect designRect, bool stretchWidth, bool stretchHeight)
{
    m_children.push_back({child, designRect, stretchWidth, stretchHeight});
    layoutChildren();
}

void TkvPlacedPanel::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    layoutChildren();
}

void TkvPlacedPanel::changeEvent(QEvent *event)
{
    QFrame::changeEvent(event);
    if (event->type() == QEvent::LayoutDirectionChange)
        layoutChildren();
}

void TkvPlacedPanel::layoutChildren()
{
    const int growWidth = width() - m_designSize.width();
    const int growHeight = height() - m_designSize.height();
    for (const Placed &child : m_children) {
        QRect rect = child.design;
        if (child.stretchWidth)
            rect.setWidth(qMax(0, rect.width() + growWidth));
        if (child.stretchHeight)
            rect.setHeight(qMax(0, rect.height() + growHeight));
        child.widget->setGeometry(QStyle::visualRect(layoutDirection(), this->rect(), rect));
        // Labels start at the reading side whatever script their text is in,
        // as right-to-left reading order lays them out.
        if (auto *label = qobject_cast<QLabel *>(child.widget)) {
            const Qt::Alignment horizontal = label->alignment() & Qt::AlignHorizontal_Mask;
            if (horizontal != Qt::AlignHCenter && horizontal != Qt::AlignJustify) {
                const Qt::Alignment side = layoutDirection() == Qt::RightToLeft ? Qt::AlignRight : Qt::AlignLeft;
                label->setAlignment((label->alignment() & Qt::AlignVertical_Mask) | side | Qt::AlignAbsolute);
            }
        }
    }
}

QLabel *newLabel(const QString &name, QWidget *parent, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    // Captions come from language files: text, never markup.
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton *newButton(const QString &name, QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(name);
    button->setFixedSize(ButtonWidth, ButtonHeight);
    return button;
}

ButtonPanel newButtonPanel(const QString &name, const QString &buttonsName, QWidget *parent)
{
    ButtonPanel made{};
    made.panel = new QFrame(parent);
    made.panel->setObjectName(name);
    made.layout = new QHBoxLayout(made.panel);
    made.layout->setContentsMargins(Margin, Margin, Margin, Margin);
    made.layout->setSpacing(Margin);
    made.buttons = new QWidget(made.panel);
    made.buttons->setObjectName(buttonsName);
    made.buttons->setFixedWidth(ButtonWidth);
    made.buttonLayout = new QVBoxLayout(made.buttons);
    made.buttonLayout->setContentsMargins(0, 0, 0, 0);
    made.buttonLayout->setSpacing(Margin);
    made.layout->addWidget(made.buttons);
    return made;
}

} // namespace kelvane::programlayout
