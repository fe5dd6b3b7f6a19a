// The colour matrices must come out bit for bit the same on every target: no fused
// multiply-add contraction in the files that include this.
#pragma once

#if defined(__clang__)
#pragma clang fp contract(off)
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif
