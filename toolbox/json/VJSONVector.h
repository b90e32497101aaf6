// VVectorData and VJSONVector: the script class "Vector", an immutable sequence of doubles with
// distance and similarity functions (for embeddings and the like). VVectorData owns the numbers;
// a VJSONVector implementation retains one, and clones share it.
//
// Choices and limits:
// - The class is built once, on first use, and registered visible in the process class store
//   (when there is one; without a store it has no superclass). The class object lives as long as
//   the process.
// - Vectors are sharable between tasks without a storage locker (their numbers never change).
// - Property "length" and indexes 0..length-1 are read-only ('ZqRT' -10702 for a write or a
//   removal, -10713 for an index past the end). The JSON text of a vector is the string
//   "[object Vector]"; toCollection gives an array of the numbers.
// - The compact form carries a vector under the signature 'JVec': a u64 byte count (8 per
//   element), then the doubles; a payload whose size is not a multiple of 8 is refused ('zorn' 3).
// - The math runs over the doubles with several independent vector accumulators (so the sums are
//   not in strict left-to-right order: they agree with an exact sum to within rounding), and
//   picks wider vector instructions at run time where the processor has them. Vectors of
//   different lengths have no distance ('zorn' 991 in script calls, false from VVectorData); two
//   empty vectors are at distance 0 with dot product 0; the cosine of a zero vector (no direction)
//   is 0, and it is computed as dot / (|a| |b|) so that large elements cannot overflow the
//   denominator. A NaN element gives a NaN distance or dot product, as the numbers say.
#pragma once

#include "toolbox/json/IJSONFunctionContext.h"
#include "toolbox/json/IJSONObject.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zorn
{

// An element of the array given to the Vector constructor is not a number.
constexpr VError VE_JSON_VECTOR_ELEMENT_NOT_NUMBER = MakeVError(kCOMPONENT_ZORN, 990);
// The two vectors of a distance or similarity have different lengths.
constexpr VError VE_JSON_VECTOR_LENGTHS_DIFFER = MakeVError(kCOMPONENT_ZORN, 991);

class VVectorData : public VObject, public IRefCountable
{
public:
    explicit VVectorData(std::vector<double>&& inValues) : fValues(std::move(inValues)) {}

    const std::vector<double>& GetValues() const { return fValues; }
    size_t GetLength() const { return fValues.size(); }

    // Each gives false (and 0) when the lengths differ.
    static bool DoEuclideanDistance(const VVectorData& inA, const VVectorData& inB, double& outDistance);
    static bool DoDotProduct(const VVectorData& inA, const VVectorData& inB, double& outProduct);
    static bool DoCosineSimilarity(const VVectorData& inA, const VVectorData& inB, double& outSimilarity);

    // The same over spans of equal length (the caller checks it).
    static double EuclideanDistance(std::span<const double> inA, std::span<const double> inB);
    static double DotProduct(std::span<const double> inA, std::span<const double> inB);
    static double CosineSimilarity(std::span<const double> inA, std::span<const double> inB);

private:
    std::vector<double> fValues;
};

class VJSONVector : public VObject, public IJSONObject
{
public:
    static constexpr uint32_t kSignature = 0x4A566563; // 'JVec'

    // A new "Vector" object (the caller's reference) of the numbers.
    static VJSONObject* Create(std::vector<double>&& inValues);
    // Resizes to inCount (new elements 0.0); 'zorn' 100, thrown and returned, when it cannot.
    static VError Allocate(size_t inCount, std::vector<double>& ioValues);

    // The implementation of an object when it is a vector, else null.
    static VJSONVector* CastJSONObject(const VJSONObject* inObject);
    static VJSONVector* GetThis(const IJSONFunctionContext* inContext);
    // The "Vector" class object (not retained: it lives as long as the process).
    static VJSONObject* GetClass();
    // The compact reader's creator for 'JVec': a new implementation (the caller's reference) of
    // the payload's doubles, and the class object. Null, with the error thrown and stored in
    // *outError: 'zorn' 3 for a size that is not a multiple of 8, 'zorn' 100 out of memory.
    static IJSONObject* CreateIJSONObject(VJSONObject* inObject, uint32_t inSignature, const void* inData,
                                          size_t inSize, VRefPtr<VJSONObject>& outClassObject,
                                          VError* outError);

    // The instantiator and member functions; their do_ names are the ones script hosts know.
    // NOLINTBEGIN(readability-identifier-naming)
    static VJSONObject* do_instantiate(VJSONObject* inClassObject, IJSONFunctionContext* ioContext);
    static EJSONStatus do_euclideanDistance(const VJSONObject* inFunctionObject,
                                            IJSONFunctionContext* ioContext);
    static EJSONStatus do_dotSimilarity(const VJSONObject* inFunctionObject, IJSONFunctionContext* ioContext);
    static EJSONStatus do_cosineSimilarity(const VJSONObject* inFunctionObject,
                                           IJSONFunctionContext* ioContext);
    static EJSONStatus do_toCollection(const VJSONObject* inFunctionObject, IJSONFunctionContext* ioContext);
    // NOLINTEND(readability-identifier-naming)

    const VVectorData& GetData() const { return *fData; }

    // IJSONObject
    EJSONStatus IJSON_GetProperty(const VJSONObject* inObject, const VString& inName, VJSONValue& outValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_SetProperty(VJSONObject* inObject, const VString& inName, const VJSONValue& inValue,
                                  VDBLanguageContext* inContext) override;
    EJSONStatus IJSON_RemoveProperty(VJSONObject* inObject, const VString& inName) override;
    EJSONStatus IJSON_GetPropertyNames(std::vector<VString>& outNames) override;
    EJSONStatus IJSON_GetPropertyByIndex(const VJSONObject* inObject, size_t inIndex,
                                         VJSONValue& outValue) override;
    EJSONStatus IJSON_GetCountPropertiesByIndex(const VJSONObject* inObject, size_t* outCount) override;
    bool IJSON_IsSharable(const VJSONObject* inObject, bool& ioSharable) override;
    EJSONStatus IJSON_CloneImpl(const VJSONObject* inObject, VJSONCloner& ioCloner,
                                VRefPtr<IJSONObject>& outImplementation, bool* outShared,
                                VError* outError) override;
    EJSONStatus IJSON_Stringify(const VJSONObject* inObject, VJSONWriter& ioWriter, VString& outText,
                                VError* outError) override;
    EJSONStatus IJSON_GetDescription(const VJSONObject* inObject, VString& outText) override;
    uint32_t IJSON_GetBinarySignature() override;
    EJSONStatus IJSON_WriteToBuffer(VMemoryBuffer<>& ioBuffer, VError* outError) override;
    // A value of kind 21 filled from a vector object sharing the numbers; null while no value
    // kind 21 is registered (none is in this system).
    VValueSingle* IJSON_CreateVValue() override;

protected:
    ~VJSONVector() override = default;

private:
    // Adopts the caller's reference to the data.
    explicit VJSONVector(VVectorData* inData) : fData(inData, true) {}
    // A new object of the class "Vector" with this implementation (adopted).
    static VJSONObject* _NewObject(VJSONVector* inImplementation);
    // The three math functions: this vector and the one parameter, of the same length, given to
    // inMath, whose number is the result; status 2 with the error otherwise.
    static EJSONStatus _CallMath(IJSONFunctionContext* ioContext,
                                 bool (*inMath)(const VVectorData&, const VVectorData&, double&));

    VRefPtr<VVectorData> fData;
};

} // namespace zorn
