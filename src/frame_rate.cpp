// Each step is defined as the x87 computation: the product and then the sum rounded to a 64-bit
// significand, the sum rounded again to double, then floored. It is done here in exact integer
// arithmetic, so the result is the same on every platform and at every optimisation level.
#include "frame_rate.hpp"

#include "timestamp.hpp"

#include <algorithm>

namespace {

// A positive normal double as mantissa * 2^exponent.
constexpr std::uint64_t mantissaOf(std::uint64_t bits) {
    return (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
}
constexpr int exponentOf(std::uint64_t bits) {
    return static_cast<int>((bits >> 52) & 0x7FF) - 1075;
}

int bitLength(UInt128 value) {
    const auto high = static_cast<std::uint64_t>(value >> 64);
    const auto low = static_cast<std::uint64_t>(value);
    if (high != 0)
        return 128 - __builtin_clzll(high);
    return low != 0 ? 64 - __builtin_clzll(low) : 0;
}

// Rounds magnitude * 2^exponent to `bits` significant bits, to nearest, ties to even.
void roundTo(UInt128& magnitude, int& exponent, int bits) {
    const int drop = bitLength(magnitude) - bits;
    if (drop <= 0)
        return;
    UInt128 kept = magnitude >> drop;
    const UInt128 rest = magnitude & ((UInt128{1} << drop) - 1);
    const UInt128 half = UInt128{1} << (drop - 1);
    if (rest > half || (rest == half && (kept & 1) != 0))
        ++kept;
    magnitude = kept;
    exponent += drop;
    if (bitLength(kept) > bits) { // rounded up to the next power of two
        magnitude >>= 1;
        ++exponent;
    }
}

// t = floor of the value magnitude * 2^exponent, negated where negative; false when it does not
// fit in 64 bits.
bool floorToInt(std::int64_t& t, UInt128 magnitude, int exponent, bool negative) {
    UInt128 whole;
    bool hasFraction = false;
    if (exponent >= 0) {
        if (bitLength(magnitude) + exponent > 64)
            return false;
        whole = magnitude << exponent;
    } else if (exponent <= -128) {
        whole = 0;
        hasFraction = magnitude != 0;
    } else {
        whole = magnitude >> -exponent;
        hasFraction = (magnitude & ((UInt128{1} << -exponent) - 1)) != 0;
    }
    if (negative) {
        whole += hasFraction ? 1 : 0;
        if (whole > UInt128{1} << 63)
            return false;
        t = static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(whole));
        return true;
    }
    if (whole > static_cast<UInt128>(INT64_MAX))
        return false;
    t = static_cast<std::int64_t>(whole);
    return true;
}

// t = floor(t * factor + addend), with the roundings described at the top; false when the
// result does not fit. (Not an optional: returning one costs a store-forwarding stall.)
bool stretch(std::int64_t& t, std::uint64_t factorBits, std::uint64_t addendBits) {
    const int factorExponent = exponentOf(factorBits);
    const int addendExponent = exponentOf(addendBits);

    // Fast path. The roundings move the result by less than 2^-52 of itself, so wherever the
    // exact t * factor + addend lies farther than that from a whole number, its floor is the
    // answer. Only near whole numbers (and for negative t) is the slow path needed.
    if (t >= 0) {
        const int scale = -std::min(factorExponent, addendExponent);
        const UInt128 exact = (UInt128{static_cast<std::uint64_t>(t)} * mantissaOf(factorBits)
                               << (factorExponent + scale)) +
                              (UInt128{mantissaOf(addendBits)} << (addendExponent + scale));
        const UInt128 whole = exact >> scale;
        const UInt128 fraction = exact & ((UInt128{1} << scale) - 1);
        const UInt128 reach = (whole + 1) << (scale - 51); // twice the roundings' reach
        if (fraction > reach && fraction < (UInt128{1} << scale) - reach &&
            whole <= static_cast<UInt128>(INT64_MAX)) {
            t = static_cast<std::int64_t>(whole);
            return true;
        }
    }

    const bool negative = t < 0;
    const std::uint64_t timeMagnitude =
        negative ? 0 - static_cast<std::uint64_t>(t) : static_cast<std::uint64_t>(t);

    // The product is exact in 117 bits before its rounding.
    UInt128 product = UInt128{timeMagnitude} * mantissaOf(factorBits);
    int productExponent = factorExponent;
    roundTo(product, productExponent, 64);

    // Line both terms up on the smaller exponent; each shift stays under 64 bits, so the sum
    // stays under 2^127.
    const int exponent = productExponent < addendExponent ? productExponent : addendExponent;
    const Int128 productTerm = static_cast<Int128>(product << (productExponent - exponent));
    const Int128 addendTerm =
        static_cast<Int128>(UInt128{mantissaOf(addendBits)} << (addendExponent - exponent));
    const Int128 sum = (negative ? -productTerm : productTerm) + addendTerm;

    const bool sumNegative = sum < 0;
    UInt128 magnitude = sumNegative ? static_cast<UInt128>(-sum) : static_cast<UInt128>(sum);
    int sumExponent = exponent;
    roundTo(magnitude, sumExponent, 64);
    roundTo(magnitude, sumExponent, 53);

    return floorToInt(t, magnitude, sumExponent, sumNegative);
}

} // namespace

bool convertFrameRate(std::int64_t& milliseconds, bool pal2Film, bool threeTwoPulldown) {
    return (!pal2Film || stretch(milliseconds, palFactorBits, palAddendBits)) &&
           (!threeTwoPulldown || stretch(milliseconds, pulldownFactorBits, pulldownAddendBits));
}

namespace {

// time * numerator / denominator, to the nearest nanosecond.
bool scale(ExactTime& time, std::int64_t numerator, std::int64_t denominator) {
    const Int128 product = nanosecondsOf(time) * numerator; // at most 2^63 * 2^20 * 2^10
    Int128 quotient = product / denominator;
    const Int128 remainder = product % denominator;
    if (2 * (remainder < 0 ? -remainder : remainder) >= denominator)
        quotient += product < 0 ? -1 : 1;
    const std::optional<ExactTime> scaled = timeOfNanoseconds(quotient);
    if (scaled)
        time = *scaled;
    return scaled.has_value();
}

} // namespace

bool convertFrameRate(ExactTime& time, bool pal2Film, bool threeTwoPulldown) {
    // Both at once round twice on whole milliseconds: a fraction scaled exactly beside them could
    // land a later time earlier, so it is rounded first and converted as they are.
    if (time.nanoseconds != 0 && pal2Film && threeTwoPulldown) {
        const std::optional<std::int64_t> whole = rounded(time);
        if (!whole)
            return false;
        time = *whole;
    }
    if (time.nanoseconds == 0)
        return convertFrameRate(time.milliseconds, pal2Film, threeTwoPulldown);
    return (!pal2Film || scale(time, 1001, 960)) && (!threeTwoPulldown || scale(time, 1001, 1000));
}
