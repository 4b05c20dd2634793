// SPDX-License-Identifier: GPL-3.0-or-later
#include "Wildcard.h"

#include "host/Error.h"

using namespace Qt::Literals::StringLiterals;

namespace kelvane {

static char16_t lowerAscii(char16_t ch)
{
    return (ch >= u'A' && ch <= u'Z') ? char16_t(ch + (u'a' - u'A')) : ch;
}

static char16_t upperAscii(char16_t ch)
{
    return (ch >= u'a' && ch <= u'z') ? char16_t(ch - (u'a' - u'A')) : ch;
}

[[noreturn]] static void invalidMask(const QString &mask, qsizetype position)
{
    throw Error(u"'%1' is an invalid mask at (%2)"_s.arg(mask).arg(position));
}

Wildcard::Wildcard(const QString &mask)
{
    const qsizetype n = mask.size();
    int starGroups = 0;
    qsizetype i = 0;
    while (i < n) {
        const char16_t ch = mask.at(i).unicode();
        if (ch == u'*') {
            if (++starGroups > MaxStarGroups)
                invalidMask(mask, i + 1);
            m_tokens.push_back(Token(Token::Star));
            // Further stars add nothing, and a '?' right after a star is ignored.
            while (i < n && (mask.at(i) == u'*' || mask.at(i) == u'?'))
                ++i;
            continue;
        }
        if (ch == u'?') {
            m_tokens.push_back(Token(Token::AnyOne));
            ++i;
            continue;
        }
        if (ch != u'[') {
            Token literal(Token::Literal);
            literal.ch = lowerAscii(ch);
            m_tokens.push_back(literal);
            ++i;
            continue;
        }
        const qsizetype open = i++;
        Token set(Token::Set);
        if (i < n && mask.at(i) == u'!') {
            set.negated = true;
            ++i;
        }
        for (;;) {
            if (i >= n)
                invalidMask(mask, open + 1); // unclosed set
            const char16_t first = mask.at(i).unicode();
            if (first == u']') {
                if (set.ranges.empty())
                    invalidMask(mask, i + 1);
                ++i;
                break;
            }
            if (first == u'-')
                invalidMask(mask, i + 1); // a range needs its first character
            ++i;
            if (i + 1 < n && mask.at(i) == u'-' && mask.at(i + 1) != u']') {
                set.ranges.emplace_back(first, mask.at(i + 1).unicode());
                i += 2;
            } else {
                set.ranges.emplace_back(first, first);
            }
        }
        m_tokens.push_back(std::move(set));
    }
}

bool Wildcard::tokenMatches(const Token &token, char16_t ch) const
{
    switch (token.kind) {
    case Token::AnyOne:
        return true;
    case Token::Literal:
        return lowerAscii(ch) == token.ch;
    case Token::Set: {
        const char16_t forms[] = {ch, lowerAscii(ch), upperAscii(ch)};
        bool inSet = false;
        for (const auto &[low, high] : token.ranges)
            for (const char16_t form : forms)
                inSet = inSet || (form >= low && form <= high);
        return inSet != token.negated;
    }
    case Token::Star:
        break;
    }
    return false;
}

bool Wildcard::matches(const QString &text) const
{
    // Every token but '*' takes exactly one character, so retrying from the
    // last star suffices: at most text length x mask length steps.
    const size_t count = m_tokens.size();
    const qsizetype length = text.size();
    size_t p = 0;
    qsizetype t = 0;
    std::optional<size_t> star;
    qsizetype starText = 0;
    // A letter after a star can only match where that letter stands: the
    // tries in between are skipped (the hotfix mask is tried on every entry).
    auto skipToLiteral = [&] {
        if (p < count && m_tokens[p].kind == Token::Literal) {
            while (starText < length && lowerAscii(text.at(starText).unicode()) != m_tokens[p].ch)
                ++starText;
            t = starText;
        }
    };
    while (t < length) {
        if (p < count && m_tokens[p].kind == Token::Star) {
            star = p++;
            starText = t;
            skipToLiteral();
        } else if (p < count && tokenMatches(m_tokens[p], text.at(t).unicode())) {
            ++p;
            ++t;
        } else if (star) {
            p = *star + 1;
            t = ++starText;
            skipToLiteral();
        } else {
            return false;
        }
    }
    while (p < count && m_tokens[p].kind == Token::Star)
        ++p;
    return p == count;
}

} // namespace kelvane
