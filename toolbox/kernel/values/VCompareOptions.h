// VCompareOptions: how two values compare: the international manager for strings (null: the
// current task's), pattern ("like") matching, whether accents and case count (diacritical),
// whether only the common beginning is compared, and the epsilon for reals.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/errors/VError.h"

namespace zorn
{

class VIntlMgr;
class VJSONObject;

class VCompareOptions : public VObject
{
public:
    VCompareOptions() = default;

    VIntlMgr* GetIntlManager() const { return fIntlManager; }
    void SetIntlManager(VIntlMgr* inManager) { fIntlManager = inManager; }
    bool IsLike() const { return fIsLike; }
    void SetLike(bool inSet) { fIsLike = inSet; }
    bool IsDiacritical() const { return fIsDiacritical; }
    void SetDiacritical(bool inSet) { fIsDiacritical = inSet; }
    bool IsBeginsWith() const { return fIsBeginsWith; }
    void SetBeginsWith(bool inSet) { fIsBeginsWith = inSet; }
    double GetEpsilon() const { return fEpsilon; }
    void SetEpsilon(double inEpsilon) { fEpsilon = inEpsilon; }

    // The diacritical flag as the object's "diacritical" property (a JSON boolean), and back: only
    // a JSON boolean changes the flag (the string "true" does not). Both return 0; a null object,
    // or a program without the JSON layer, changes nothing.
    VError ToJSON(VJSONObject* ioObject) const;
    VError FromJSON(const VJSONObject* inObject);

private:
    VIntlMgr* fIntlManager = nullptr; // not owned
    bool fIsLike = false;
    bool fIsDiacritical = false;
    bool fIsBeginsWith = false;
    double fEpsilon = 1e-6;
};

} // namespace zorn
