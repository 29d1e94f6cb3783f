// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/operations.h"

#include <algorithm>

namespace mv70 {

const OperationRow *operationWithCode(QStringView code) {
    const auto *it =
        std::ranges::find_if(kOperations, [&](const OperationRow &row) { return QStringView(row.code) == code; });
    return it == kOperations.end() ? nullptr : it;
}

const OperationRow *operationNamed(std::string_view words) {
    const auto *it = std::ranges::find(kOperations, words, &OperationRow::words);
    return it == kOperations.end() ? nullptr : it;
}

}  // namespace mv70
