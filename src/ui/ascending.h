#pragma once
// Selected rows or bytes as the window works on them: ascending, each once, whatever order and
// overlaps the selection came in.

#include <QList>
#include <algorithm>

namespace x45::ui {

template <class T> [[nodiscard]] QList<T> ascendingOnce(QList<T> values) {
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

} // namespace x45::ui
