// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The projector's queries: what each one asks, the code that asks it and
// the name mv70-ctl gives it. Every program takes a query's code from here.

#include <QStringView>

#include <array>
#include <optional>
#include <string_view>

namespace mv70 {

enum class Query { Status, Input, Reversal, LampTime, Temperatures, Mute, Info, Pressure, LampMode };

struct QueryName {
    Query query;
    std::u16string_view code;  // sent without the carriage return
    std::string_view action;   // mv70-ctl's name for it
};

// In the order the reply decoder tries them.
inline constexpr std::array kQueryNames = {
    QueryName{Query::Status, u"CR0", "status"},
    QueryName{Query::Input, u"CR1", "input"},
    QueryName{Query::Reversal, u"CR4", "reversal"},
    QueryName{Query::LampTime, u"CR3", "lamp-time"},
    QueryName{Query::Temperatures, u"CR6", "temperatures"},
    QueryName{Query::Mute, u"CRA", "mute"},
    QueryName{Query::Info, u"CR9", "info"},
    QueryName{Query::Pressure, u"CR PRESSURE", "pressure"},
    QueryName{Query::LampMode, u"CR7", "lamp-mode"},
};

constexpr std::u16string_view queryCode(Query query) {
    for (const QueryName &name : kQueryNames)
        if (name.query == query)
            return name.code;
    return {};
}

// The query whose code is `code` (without the carriage return), if any.
inline std::optional<Query> queryWithCode(QStringView code) {
    for (const QueryName &name : kQueryNames)
        if (code == QStringView(name.code))
            return name.query;
    return std::nullopt;
}

}  // namespace mv70
