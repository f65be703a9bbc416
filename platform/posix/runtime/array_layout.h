// The layout this runtime gives a SAFEARRAY, as on Windows: the descriptor with its bounds
// (the last dimension first), preceded by 16 hidden bytes whose last four hold the element
// VARTYPE (FADF_HAVEVARTYPE); the elements in one block, the first dimension's index running
// fastest. safearray.cpp makes and reads arrays, variant.cpp frees them with what they hold.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace quarrow2::platform {

constexpr size_t kHiddenArrayBytes = 16;

inline unsigned char* HiddenBytes(SAFEARRAY* psa) {
    return reinterpret_cast<unsigned char*>(psa) - kHiddenArrayBytes;
}

// The number of elements of all dimensions together; false when it cannot be had.
inline bool ElementCount(const SAFEARRAY* psa, size_t& count) {
    count = 1;
    const SAFEARRAYBOUND* bounds = psa->rgsabound;
    for (UINT d = 0; d < psa->cDims; ++d) {
        if (bounds[d].cElements && count > SIZE_MAX / bounds[d].cElements) return false;
        count *= bounds[d].cElements;
    }
    return true;
}

}  // namespace quarrow2::platform
