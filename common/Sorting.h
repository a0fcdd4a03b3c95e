#pragma once
// Straight insertion sorts of values[0..last], stable: equal values (such as
// -0.0 and 0.0) keep their order, which the trimmed means and medians rely on.
#include <cstdint>

namespace merkanix {

template <typename T> void InsertionSort(T* values, int last) {
    for (int i = 1; i <= last; ++i) {
        const T held = values[i];
        int j = i - 1;
        while (j >= 0 && values[j] > held) {
            values[j + 1] = values[j];
            --j;
        }
        values[j + 1] = held;
    }
}

inline void SortReals(double* values, int last) {
    InsertionSort(values, last);
}
inline void SortIntegers(std::int32_t* values, int last) {
    InsertionSort(values, last);
}

} // namespace merkanix
