// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLatin1StringView>

namespace kelvane {

struct DefaultText
{
    QLatin1StringView key;
    QLatin1StringView text;
};

// Display name of the built-in language in the language list.
inline constexpr QLatin1StringView DefaultLanguageDisplayName{"English (default)"};

// The built-in English texts, in the order in which a fresh catalogue holds them.
extern const DefaultText DefaultCaptions[53];
extern const DefaultText DefaultStrings[56];

} // namespace kelvane
