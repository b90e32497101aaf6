#include "toolbox/json/VJSONVector.h"

#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONClass.h"
#include "toolbox/json/VJSONErrors.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/kernel/values/VValue.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>

namespace zorn
{

static_assert(std::endian::native == std::endian::little, "the payload is written as it lies in memory");

namespace
{

// The kernels are written once over a vector type V of two or four doubles (GCC vector
// extensions): four accumulators of V hide the addition's latency. They are built twice: with
// two-double vectors for any processor (SSE2 on x86-64, NEON on ARM), and on x86-64 with
// four-double vectors for processors with AVX2 and FMA, chosen once at run time.
using Lanes2 = double __attribute__((vector_size(16)));
using Lanes4 = double __attribute__((vector_size(32)));

// The unaligned, aliasing form of a vector type, for loads from a double array.
template <class V>
struct Unaligned;
template <>
struct Unaligned<Lanes2>
{
    using Type = double __attribute__((vector_size(16), aligned(8), may_alias));
};
template <>
struct Unaligned<Lanes4>
{
    using Type = double __attribute__((vector_size(32), aligned(8), may_alias));
};

// The sum of a term of a[i] and b[i] over the elements: Term::Of(term, a, b) makes the term of
// a and b, for vectors and doubles alike (by reference: a vector passed by value would change the
// calling convention between the two builds of a kernel). The terms are made before they are
// added, which keeps the machine code of the loops as short as when written out per kernel.
template <class V, class Term>
[[gnu::always_inline]] inline double SumOf(const double* inA, const double* inB, size_t inCount)
{
    using U = typename Unaligned<V>::Type;
    constexpr size_t kLanes = sizeof(V) / sizeof(double);
    V s0 = {}, s1 = {}, s2 = {}, s3 = {};
    size_t i = 0;
    for (; i + 4 * kLanes <= inCount; i += 4 * kLanes)
    {
        const U* a = reinterpret_cast<const U*>(inA + i);
        const U* b = reinterpret_cast<const U*>(inB + i);
        V t0, t1, t2, t3;
        Term::Of(t0, a[0], b[0]);
        Term::Of(t1, a[1], b[1]);
        Term::Of(t2, a[2], b[2]);
        Term::Of(t3, a[3], b[3]);
        s0 += t0;
        s1 += t1;
        s2 += t2;
        s3 += t3;
    }
    const V s = (s0 + s1) + (s2 + s3);
    double sum = 0;
    for (size_t lane = 0; lane < kLanes; ++lane)
    {
        sum += s[lane];
    }
    for (; i < inCount; ++i)
    {
        double t;
        Term::Of(t, inA[i], inB[i]);
        sum += t;
    }
    return sum;
}

// The kernels, each a Run over a vector type V.
struct SquaredDifferences
{
    template <class T, class W>
    [[gnu::always_inline]] static void Of(T& outTerm, const W& inA, const W& inB)
    {
        const T d = inA - inB;
        outTerm = d * d;
    }
    template <class V>
    [[gnu::always_inline]] static double Run(const double* inA, const double* inB, size_t inCount)
    {
        return SumOf<V, SquaredDifferences>(inA, inB, inCount);
    }
};

struct Products
{
    template <class T, class W>
    [[gnu::always_inline]] static void Of(T& outTerm, const W& inA, const W& inB)
    {
        outTerm = inA * inB;
    }
    template <class V>
    [[gnu::always_inline]] static double Run(const double* inA, const double* inB, size_t inCount)
    {
        return SumOf<V, Products>(inA, inB, inCount);
    }
};

struct CosineSums
{
    double fAB = 0;
    double fAA = 0;
    double fBB = 0;
};

// The three sums of the cosine in one pass over both vectors.
template <class V>
[[gnu::always_inline]] inline CosineSums SumsForCosineOf(const double* inA, const double* inB, size_t inCount)
{
    using U = typename Unaligned<V>::Type;
    constexpr size_t kLanes = sizeof(V) / sizeof(double);
    V ab0 = {}, ab1 = {}, aa0 = {}, aa1 = {}, bb0 = {}, bb1 = {};
    size_t i = 0;
    for (; i + 2 * kLanes <= inCount; i += 2 * kLanes)
    {
        const U* a = reinterpret_cast<const U*>(inA + i);
        const U* b = reinterpret_cast<const U*>(inB + i);
        const V a0 = a[0];
        const V a1 = a[1];
        const V b0 = b[0];
        const V b1 = b[1];
        ab0 += a0 * b0;
        ab1 += a1 * b1;
        aa0 += a0 * a0;
        aa1 += a1 * a1;
        bb0 += b0 * b0;
        bb1 += b1 * b1;
    }
    const V ab = ab0 + ab1;
    const V aa = aa0 + aa1;
    const V bb = bb0 + bb1;
    CosineSums sums;
    for (size_t lane = 0; lane < kLanes; ++lane)
    {
        sums.fAB += ab[lane];
        sums.fAA += aa[lane];
        sums.fBB += bb[lane];
    }
    for (; i < inCount; ++i)
    {
        sums.fAB += inA[i] * inB[i];
        sums.fAA += inA[i] * inA[i];
        sums.fBB += inB[i] * inB[i];
    }
    return sums;
}

struct SumsForCosine
{
    template <class V>
    [[gnu::always_inline]] static CosineSums Run(const double* inA, const double* inB, size_t inCount)
    {
        return SumsForCosineOf<V>(inA, inB, inCount);
    }
};

#if defined(__x86_64__) && defined(__GNUC__)
#define ZORN_VECTOR_WIDE 1
template <class Kernel>
__attribute__((target("avx2,fma"))) auto RunWide(const double* inA, const double* inB, size_t inCount)
{
    return Kernel::template Run<Lanes4>(inA, inB, inCount);
}

bool HasWideVectors()
{
    static const bool sWide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return sWide;
}
#endif

// The kernel over the widest vectors this processor has.
template <class Kernel>
auto Run(const double* inA, const double* inB, size_t inCount)
{
#ifdef ZORN_VECTOR_WIDE
    if (HasWideVectors())
    {
        return RunWide<Kernel>(inA, inB, inCount);
    }
#endif
    return Kernel::template Run<Lanes2>(inA, inB, inCount);
}

EJSONStatus Fail(VError inError)
{
    _ThrowError(inError);
    return eJSONStatusFailed;
}

const VString& KeyLength()
{
    static const VString sKey("length");
    return sKey;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// VVectorData

namespace
{

// Whether a sum of squares left the normal range (overflowed, or underflowed, perhaps to 0).
bool OutOfRange(double inSum)
{
    return !(inSum >= DBL_MIN && inSum <= DBL_MAX);
}

// The largest magnitude of both vectors: a power-of-two scale that brings it near 1, or 0 when
// there is none that helps (all zeros, infinities or NaNs).
double ScaleOf(std::span<const double> inA, std::span<const double> inB)
{
    double largest = 0;
    for (std::span<const double> values : {inA, inB})
    {
        for (double value : values)
        {
            largest = std::max(largest, std::fabs(value));
        }
    }
    if (!(largest > 0 && largest <= DBL_MAX))
    {
        return 0;
    }
    return std::ldexp(1.0, -std::ilogb(largest));
}

// Copies of the vectors multiplied by inScale (exact: a power of two); false out of memory.
bool Scaled(std::span<const double> inA, std::span<const double> inB, double inScale,
            std::vector<double>& outA, std::vector<double>& outB)
{
    try
    {
        outA.resize(inA.size());
        outB.resize(inB.size());
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    std::transform(inA.begin(), inA.end(), outA.begin(),
                   [inScale](double inValue) { return inValue * inScale; });
    std::transform(inB.begin(), inB.end(), outB.begin(),
                   [inScale](double inValue) { return inValue * inScale; });
    return true;
}

} // namespace

double VVectorData::EuclideanDistance(std::span<const double> inA, std::span<const double> inB)
{
    const size_t count = std::min(inA.size(), inB.size());
    const double sum = Run<SquaredDifferences>(inA.data(), inB.data(), count);
    if (sum == 0 && std::equal(inA.begin(), inA.begin() + static_cast<std::ptrdiff_t>(count), inB.begin()))
    {
        // Equal vectors (a vector with itself, often): no squares to rescue from underflow.
        return 0;
    }
    if (OutOfRange(sum))
    {
        // Very large or very small elements: the squares left the range of doubles, so the
        // distance is taken again on scaled copies (rare).
        std::vector<double> a, b;
        const double scale = ScaleOf(inA.first(count), inB.first(count));
        if (scale != 0 && Scaled(inA.first(count), inB.first(count), scale, a, b))
        {
            return std::sqrt(Run<SquaredDifferences>(a.data(), b.data(), count)) / scale;
        }
    }
    return std::sqrt(sum);
}

double VVectorData::DotProduct(std::span<const double> inA, std::span<const double> inB)
{
    return Run<Products>(inA.data(), inB.data(), std::min(inA.size(), inB.size()));
}

namespace
{

double CosineOf(const CosineSums& inSums)
{
    // |a| |b| rather than sqrt(aa * bb): the product of the squares overflows long before the
    // norms do.
    const double cosine = inSums.fAB / (std::sqrt(inSums.fAA) * std::sqrt(inSums.fBB));
    // A zero vector (0 / 0), or infinite or NaN elements: no direction to compare.
    return std::isnan(cosine) ? 0 : std::clamp(cosine, -1.0, 1.0);
}

} // namespace

double VVectorData::CosineSimilarity(std::span<const double> inA, std::span<const double> inB)
{
    const size_t count = std::min(inA.size(), inB.size());
    const CosineSums sums = Run<SumsForCosine>(inA.data(), inB.data(), count);
    if (OutOfRange(sums.fAA) || OutOfRange(sums.fBB))
    {
        // The cosine does not depend on the scale: taken again on scaled copies.
        std::vector<double> a, b;
        const double scale = ScaleOf(inA.first(count), inB.first(count));
        if (scale != 0 && Scaled(inA.first(count), inB.first(count), scale, a, b))
        {
            return CosineOf(Run<SumsForCosine>(a.data(), b.data(), count));
        }
    }
    return CosineOf(sums);
}

namespace
{

// The measure of two vectors of the same length into outResult (else 0 and false).
template <double (*Measure)(std::span<const double>, std::span<const double>)>
bool MeasureOfSameLength(const VVectorData& inA, const VVectorData& inB, double& outResult)
{
    outResult = 0;
    if (inA.GetLength() != inB.GetLength())
    {
        return false;
    }
    outResult = Measure(inA.GetValues(), inB.GetValues());
    return true;
}

} // namespace

bool VVectorData::DoEuclideanDistance(const VVectorData& inA, const VVectorData& inB, double& outDistance)
{
    return MeasureOfSameLength<EuclideanDistance>(inA, inB, outDistance);
}

bool VVectorData::DoDotProduct(const VVectorData& inA, const VVectorData& inB, double& outProduct)
{
    return MeasureOfSameLength<DotProduct>(inA, inB, outProduct);
}

bool VVectorData::DoCosineSimilarity(const VVectorData& inA, const VVectorData& inB, double& outSimilarity)
{
    return MeasureOfSameLength<CosineSimilarity>(inA, inB, outSimilarity);
}

// ---------------------------------------------------------------------------------------------
// VJSONVector: creation

VJSONObject* VJSONVector::GetClass()
{
    static VJSONObject* const sClass =
        VJSONClass::CreateNativeClass(VString("Vector"),
                                      {
                                          {VString("euclideanDistance"), do_euclideanDistance, 0},
                                          {VString("dotSimilarity"), do_dotSimilarity, 0},
                                          {VString("cosineSimilarity"), do_cosineSimilarity, 0},
                                          {VString("toCollection"), do_toCollection, 0},
                                      },
                                      do_instantiate);
    return sClass;
}

VJSONObject* VJSONVector::_NewObject(VJSONVector* inImplementation)
{
    VRefPtr<VJSONVector> implementation(inImplementation, true);
    return new VJSONObject(GetClass(), implementation.Get(), false);
}

VJSONObject* VJSONVector::Create(std::vector<double>&& inValues)
{
    return _NewObject(new VJSONVector(new VVectorData(std::move(inValues))));
}

VError VJSONVector::Allocate(size_t inCount, std::vector<double>& ioValues)
{
    try
    {
        ioValues.resize(inCount, 0.0);
    }
    catch (const std::bad_alloc&)
    {
        return _ThrowError(VE_MEMORY_FULL);
    }
    catch (const std::length_error&)
    {
        return _ThrowError(VE_MEMORY_FULL);
    }
    return VE_OK;
}

VJSONVector* VJSONVector::CastJSONObject(const VJSONObject* inObject)
{
    return inObject == nullptr ? nullptr : dynamic_cast<VJSONVector*>(inObject->GetImplementation());
}

VJSONVector* VJSONVector::GetThis(const IJSONFunctionContext* inContext)
{
    return CastJSONObject(inContext->GetThisObject());
}

IJSONObject* VJSONVector::CreateIJSONObject(VJSONObject* /*inObject*/, uint32_t /*inSignature*/,
                                            const void* inData, size_t inSize,
                                            VRefPtr<VJSONObject>& outClassObject, VError* outError)
{
    VError error = VE_OK;
    std::vector<double> values;
    if (inSize % sizeof(double) != 0)
    {
        error = _ThrowError(VE_INVALID_PARAMETER);
    }
    else
    {
        error = Allocate(inSize / sizeof(double), values);
    }
    if (error != VE_OK)
    {
        if (outError != nullptr)
        {
            *outError = error;
        }
        return nullptr;
    }
    if (inSize != 0)
    {
        std::memcpy(values.data(), inData, inSize);
    }
    outClassObject.Set(GetClass());
    return new VJSONVector(new VVectorData(std::move(values)));
}

// ---------------------------------------------------------------------------------------------
// The class's functions

VJSONObject* VJSONVector::do_instantiate(VJSONObject* /*inClassObject*/, IJSONFunctionContext* ioContext)
{
    VJSONValue parameter =
        ioContext == nullptr || ioContext->GetParamCount() != 1 ? VJSONValue() : ioContext->GetParam(1);
    const VJSONArray* array = parameter.IsArray() ? parameter.GetArray() : nullptr;
    if (array == nullptr)
    {
        _ThrowError(VE_INVALID_PARAMETER);
        return nullptr;
    }
    std::vector<double> values;
    if (Allocate(array->GetCount(), values) != VE_OK)
    {
        return nullptr;
    }
    for (size_t i = 0; i < values.size(); ++i)
    {
        VJSONValue element = array->GetAt(i);
        if (!element.IsNumber())
        {
            _ThrowError(VE_JSON_VECTOR_ELEMENT_NOT_NUMBER);
            return nullptr;
        }
        values[i] = element.GetNumber();
    }
    return Create(std::move(values));
}

EJSONStatus VJSONVector::_CallMath(IJSONFunctionContext* ioContext,
                                   bool (*inMath)(const VVectorData&, const VVectorData&, double&))
{
    const VJSONVector* self = GetThis(ioContext);
    const VJSONVector* other = nullptr;
    if (self != nullptr && ioContext->GetParamCount() == 1)
    {
        VJSONValue parameter = ioContext->GetParam(1);
        other = parameter.IsObject() ? CastJSONObject(parameter.GetObject()) : nullptr;
    }
    if (other == nullptr)
    {
        return Fail(VE_INVALID_PARAMETER);
    }
    double result = 0;
    if (!inMath(self->GetData(), other->GetData(), result))
    {
        return Fail(VE_JSON_VECTOR_LENGTHS_DIFFER);
    }
    ioContext->SetResult(VJSONValue(result));
    return eJSONStatusDone;
}

EJSONStatus VJSONVector::do_euclideanDistance(const VJSONObject* /*inFunctionObject*/,
                                              IJSONFunctionContext* ioContext)
{
    return _CallMath(ioContext, VVectorData::DoEuclideanDistance);
}

EJSONStatus VJSONVector::do_dotSimilarity(const VJSONObject* /*inFunctionObject*/,
                                          IJSONFunctionContext* ioContext)
{
    return _CallMath(ioContext, VVectorData::DoDotProduct);
}

EJSONStatus VJSONVector::do_cosineSimilarity(const VJSONObject* /*inFunctionObject*/,
                                             IJSONFunctionContext* ioContext)
{
    return _CallMath(ioContext, VVectorData::DoCosineSimilarity);
}

EJSONStatus VJSONVector::do_toCollection(const VJSONObject* /*inFunctionObject*/,
                                         IJSONFunctionContext* ioContext)
{
    const VJSONVector* self = GetThis(ioContext);
    if (self == nullptr || ioContext->GetParamCount() != 0)
    {
        return Fail(VE_INVALID_PARAMETER);
    }
    const std::vector<double>& values = self->GetData().GetValues();
    std::vector<VJSONValue> elements;
    try
    {
        elements.reserve(values.size());
    }
    catch (const std::bad_alloc&)
    {
        return Fail(VE_MEMORY_FULL);
    }
    for (double value : values)
    {
        elements.emplace_back(value);
    }
    VRefPtr<VJSONArray> array(new VJSONArray(), true);
    if (!array->AssignValues(elements))
    {
        return Fail(VE_MEMORY_FULL);
    }
    ioContext->SetResult(VJSONValue(array.Get()));
    return eJSONStatusDone;
}

// ---------------------------------------------------------------------------------------------
// IJSONObject

EJSONStatus VJSONVector::IJSON_GetProperty(const VJSONObject* /*inObject*/, const VString& inName,
                                           VJSONValue& outValue, VDBLanguageContext* /*inContext*/)
{
    if (!inName.EqualToStringRaw(KeyLength()))
    {
        return eJSONStatusNotHandled;
    }
    outValue.SetNumber(static_cast<double>(fData->GetLength()));
    return eJSONStatusDone;
}

EJSONStatus VJSONVector::IJSON_SetProperty(VJSONObject* /*inObject*/, const VString& /*inName*/,
                                           const VJSONValue& /*inValue*/, VDBLanguageContext* /*inContext*/)
{
    return Fail(VE_JSON_READ_ONLY_PROPERTY);
}

EJSONStatus VJSONVector::IJSON_RemoveProperty(VJSONObject* /*inObject*/, const VString& /*inName*/)
{
    return Fail(VE_JSON_READ_ONLY_PROPERTY);
}

EJSONStatus VJSONVector::IJSON_GetPropertyNames(std::vector<VString>& outNames)
{
    outNames.push_back(KeyLength());
    return eJSONStatusDone;
}

EJSONStatus VJSONVector::IJSON_GetPropertyByIndex(const VJSONObject* /*inObject*/, size_t inIndex,
                                                  VJSONValue& outValue)
{
    if (inIndex >= fData->GetLength())
    {
        return Fail(VE_JSON_INDEX_OUT_OF_RANGE);
    }
    outValue.SetNumber(fData->GetValues()[inIndex]);
    return eJSONStatusDone;
}

EJSONStatus VJSONVector::IJSON_GetCountPropertiesByIndex(const VJSONObject* /*inObject*/, size_t* outCount)
{
    *outCount = fData->GetLength();
    return eJSONStatusDone;
}

bool VJSONVector::IJSON_IsSharable(const VJSONObject* /*inObject*/, bool& ioSharable)
{
    ioSharable = false;
    return true;
}

EJSONStatus VJSONVector::IJSON_CloneImpl(const VJSONObject* /*inObject*/, VJSONCloner& /*ioCloner*/,
                                         VRefPtr<IJSONObject>& outImplementation, bool* outShared,
                                         VError* /*outError*/)
{
    VVectorData* data = fData.Get();
    data->Retain();
    outImplementation.Adopt(new VJSONVector(data));
    if (outShared != nullptr)
    {
        *outShared = false;
    }
    return eJSONStatusDone;
}

EJSONStatus VJSONVector::IJSON_Stringify(const VJSONObject* /*inObject*/, VJSONWriter& /*ioWriter*/,
                                         VString& outText, VError* outError)
{
    outText = VString("\"[object Vector]\"");
    if (outError != nullptr)
    {
        *outError = VE_OK;
    }
    return eJSONStatusDone;
}

EJSONStatus VJSONVector::IJSON_GetDescription(const VJSONObject* /*inObject*/, VString& outText)
{
    outText = VString("Vector, length: ");
    outText.AppendULong8(fData->GetLength());
    return eJSONStatusDone;
}

uint32_t VJSONVector::IJSON_GetBinarySignature()
{
    return kSignature;
}

EJSONStatus VJSONVector::IJSON_WriteToBuffer(VMemoryBuffer<>& ioBuffer, VError* outError)
{
    const std::vector<double>& values = fData->GetValues();
    return _WritePayload(ioBuffer, values.data(), values.size() * sizeof(double), outError);
}

VValueSingle* VJSONVector::IJSON_CreateVValue()
{
    constexpr ValueKind kVectorKind = 21;
    VValue* value = VValue::NewValueFromValueKind(kVectorKind);
    auto* single = dynamic_cast<VValueSingle*>(value);
    if (single == nullptr)
    {
        delete value;
        return nullptr;
    }
    fData->Retain();
    VJSONValue vector;
    vector.AdoptObject(_NewObject(new VJSONVector(fData.Get())));
    single->FromJSONValue(vector);
    return single;
}

} // namespace zorn
