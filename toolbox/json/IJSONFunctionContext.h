// IJSONFunctionContext: how a native member function receives its call (the this value, the
// parameters, a slot for the result, the caller's base and language contexts), and
// VJSONFunctionContext, the toolbox's own implementation, built on the caller's stack whenever the
// toolbox itself calls a function object ("apply", "call", constructors, initialisers).
//
// Parameters are numbered from 1; index 0 and indexes past the count read undefined. A context
// with a parent forwards parameters, results and scope questions to it, so a function that calls
// another on the same arguments copies nothing; a result set through such a context always
// arrives with the legacy kind 5. The typed accessors check each parameter's JSON type and, on a
// mismatch, clear the parameters-valid flag, raise 'ZqRT' 7 (number), 8 (string), 54 (object,
// array or blob) or 55 (boolean) and still return a fallback, so the function decides whether to
// go on.
#pragma once

#include "toolbox/json/IJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdint>
#include <vector>

namespace zorn
{

class VJSONObject;
class VJSONArray;
class VJSONClass;

constexpr VError VE_JSON_NUMBER_PARAM_EXPECTED = MakeVError(kCOMPONENT_SCRIPT, 7);
constexpr VError VE_JSON_STRING_PARAM_EXPECTED = MakeVError(kCOMPONENT_SCRIPT, 8);
constexpr VError VE_JSON_OBJECT_PARAM_EXPECTED = MakeVError(kCOMPONENT_SCRIPT, 54);
constexpr VError VE_JSON_BOOL_PARAM_EXPECTED = MakeVError(kCOMPONENT_SCRIPT, 55);

// The bytes of a blob parameter: fFound is 1 when the parameter was a blob.
struct VJSONBlobView
{
    uint32_t fFound = 0;
    const uint8_t* fBytes = nullptr;
    size_t fSize = 0;
};

class IJSONFunctionContext
{
public:
    // The legacy value kind of a result set by the toolbox (a JSON value).
    static constexpr uint8_t kResultKindJSON = 5;

    IJSONFunctionContext() = default;
    IJSONFunctionContext(const IJSONFunctionContext&) = delete;
    IJSONFunctionContext& operator=(const IJSONFunctionContext&) = delete;
    virtual ~IJSONFunctionContext() = default;

    virtual VJSONObject* GetThisObject() const = 0;
    virtual VJSONArray* GetThisArray() const = 0;
    virtual void SetResult(const VJSONValue& inValue, uint8_t inLegacyKind = kResultKindJSON) = 0;
    virtual void GetResult(VJSONValue& outValue) const = 0;
    virtual uint8_t GetResultLegacyValueKind() const = 0;
    virtual bool GetResultIsExpected() const = 0;
    // Hands out the parameter list itself (null for none); 0 when supported.
    virtual EJSONStatus GetParametersAsJSONValues(std::vector<VJSONValue>** outParameters) = 0;
    // A script host's own parameter form; the default: not supported (1).
    virtual EJSONStatus GetParameterList(void** outList, int* outCount, void** outExtra, bool* outFlag);
    virtual void* GetBaseContext() const = 0;
    virtual VDBLanguageContext* GetLanguageContext() const = 0;
    virtual int GetParamCount() const = 0;
    // Parameter inIndex (from 1); undefined out of range.
    virtual VJSONValue GetParam(int inIndex) const = 0;
    // A blob parameter's bytes (an object of the class "Blob"); they stay valid while the
    // parameter holds the blob.
    virtual VJSONBlobView GetBlobParam(int inIndex, bool inOptional);
    virtual VJSONObject* GetScopeThisObject() const = 0;
    virtual VJSONObject* GetScopeFunctionObject() const = 0;

    // The class owning the scope function's native implementation; null for none.
    VJSONClass* GetScopeClass() const;

    // Typed accessors (see the header comment).
    double GetNumberParam(int inIndex);
    int32_t GetLongParam(int inIndex);
    bool GetNumberOptParam(int inIndex, double* outNumber);
    bool GetBoolParam(int inIndex);
    VString GetStringParam(int inIndex);
    // Retained for the caller.
    VRefPtr<VJSONObject> GetObjectParam(int inIndex);
    VRefPtr<VJSONArray> GetArrayParam(int inIndex);

    bool GetParametersValid() const { return fParametersValid; }

protected:
    void _Invalid(VError inError);

private:
    bool fParametersValid = true;
};

class VJSONFunctionContext : public VObject, public IJSONFunctionContext
{
public:
    // A context forwarding to inParent (which must not be null).
    VJSONFunctionContext(VJSONObject* inThisObject, VJSONArray* inThisArray, IJSONFunctionContext* inParent);
    // A context of its own, with its parameter list (not owned; null for none).
    VJSONFunctionContext(VJSONObject* inThisObject, VJSONArray* inThisArray,
                         std::vector<VJSONValue>* inParameters, void* inBaseContext,
                         VDBLanguageContext* inLanguageContext, bool inResultExpected = true);
    ~VJSONFunctionContext() override = default;

    VJSONObject* GetThisObject() const override { return fThisObject; }
    VJSONArray* GetThisArray() const override { return fThisArray; }
    void SetResult(const VJSONValue& inValue, uint8_t inLegacyKind = kResultKindJSON) override;
    void GetResult(VJSONValue& outValue) const override;
    uint8_t GetResultLegacyValueKind() const override { return fLegacyKind; }
    bool GetResultIsExpected() const override { return fResultExpected; }
    EJSONStatus GetParametersAsJSONValues(std::vector<VJSONValue>** outParameters) override;
    EJSONStatus GetParameterList(void** outList, int* outCount, void** outExtra, bool* outFlag) override;
    void* GetBaseContext() const override { return fBaseContext; }
    VDBLanguageContext* GetLanguageContext() const override { return fLanguageContext; }
    int GetParamCount() const override;
    VJSONValue GetParam(int inIndex) const override;
    VJSONObject* GetScopeThisObject() const override;
    VJSONObject* GetScopeFunctionObject() const override;

    void SetResultIsExpected(bool inExpected) { fResultExpected = inExpected; }

private:
    VJSONObject* fThisObject;                       // not retained
    VJSONArray* fThisArray;                         // not retained
    std::vector<VJSONValue>* fParameters = nullptr; // not owned
    VJSONValue fResult;
    uint8_t fLegacyKind = kResultKindJSON;
    bool fResultExpected = true;
    void* fBaseContext = nullptr;
    VDBLanguageContext* fLanguageContext = nullptr;
    IJSONFunctionContext* fParent = nullptr;
};

} // namespace zorn
