// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace kelvane {

// A file-name style wildcard mask: '*' any run, '?' one character, '[...]' a
// set with ranges ("a-z") and a leading '!' to negate. The letters A-Z match
// regardless of case; the whole text must match the whole mask.
class Wildcard
{
public:
    static constexpr int MaxStarGroups = 30;

    // Throws kelvane::Error "'<mask>' is an invalid mask at (<pos>)".
    explicit Wildcard(const QString &mask);

    bool matches(const QString &text) const;

private:
    struct Token
    {
        enum Kind { Literal, AnyOne, Star, Set };
        explicit Token(Kind k) : kind(k) {}
        Kind kind;
        char16_t ch = 0;                                // Literal
        bool negated = false;                           // Set
        std::vector<std::pair<char16_t, char16_t>> ranges; // Set, bounds lowered
    };

    bool tokenMatches(const Token &token, char16_t ch) const;

    std::vector<Token> m_tokens;
};

} // namespace kelvane
