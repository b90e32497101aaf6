// VJSONGraph: frees the reference cycles of JSON containers. Objects and arrays linked by their
// setters share one graph, which knows its members, the sum of their reference counts and how many
// of those references come from the members themselves. When a member gives up a reference and
// every reference left to the members is one member's to another, the graph is garbage: its
// members are emptied (which breaks the cycles) and freed.
//
// Choices and limits:
// - Graphs are made lazily. Containers filled by the builder path (the readers) have none; the
//   first setter that links a container with another (Connect) makes one and collects every
//   container reachable from the two at that moment, counting the references between them. From
//   then on every reference stored into a member is counted, so the members' children are always
//   members of the same graph.
// - The cycle flag is set when a reference joins two members of one graph, or when a collection
//   meets a container it has already collected (a cycle, or a container held twice). Without it a
//   member's Release is a counted decrement alone: trees and chains are freed by reference counts.
// - A graph only grows (by collecting and by merging with another graph); a member leaves it when
//   it is destroyed or collected. So a garbage cycle that shares a graph with containers still
//   held from outside waits until those go too, unless it is cut loose by a Disconnect whose
//   value is left held only by its own cycle (ReleaseObjectDependenciesIfNecessary), which is
//   then freed at once.
// - References a native implementation (IJSONObject) holds are counted when it connects them
//   (VJSONObject::ConnectImplementationProperty) and must be disconnected by it, at the latest in
//   its IJSON_DoDisconnectDependencies; a collection cannot empty them, so a cycle through an
//   implementation is kept.
// - Lock order: a graph with the shared flag (a member with a storage locker, or a sharable native
//   object) is changed, and its members retained and released, under StGraphLocker::sMutex; each
//   member is read under its storage locker's critical section, taken after sMutex. Plain graphs
//   take no lock: like plain containers, they belong to one task at a time; their reference total
//   is atomic and the garbage test of a release is one compare-and-swap, so tasks that only read a
//   plain tree may retain and release its containers concurrently.
#pragma once

#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"

#include <atomic>
#include <cstdint>
#include <set>
#include <unordered_set>
#include <vector>

namespace zorn
{

class VJSONArray;
class VJSONObject;
class VJSONValue;

class VJSONGraph : public VObject, public IRefCountable
{
public:
    VJSONGraph(bool inCycle, bool inShared);
    ~VJSONGraph() override;
    VJSONGraph(const VJSONGraph&) = delete;
    VJSONGraph& operator=(const VJSONGraph&) = delete;

    // Links a container value stored into a target container (after the store). Exactly one of
    // each pair is non-null. With inHeldByTarget the target's properties or elements hold the
    // value (a collection of the target meets it); otherwise the reference is the target's native
    // implementation's.
    static void Connect(VJSONObject* inTargetObject, VJSONArray* inTargetArray, VJSONObject* inValueObject,
                        VJSONArray* inValueArray, bool inHeldByTarget = true);
    // The same for any value: nothing for values that are neither objects nor arrays.
    static void Connect(VJSONObject* inTargetObject, VJSONArray* inTargetArray, const VJSONValue& inValue,
                        bool inHeldByTarget = true);
    // Unlinks a container value taken out of a member of inGraph (nothing without a graph or for
    // other values). The caller still holds the value: when that is the last reference from
    // outside its cycle, the cycle is freed here, and the caller's release frees the value.
    static void Disconnect(VJSONGraph* inGraph, const VJSONValue& inValue);
    // Adds what is reachable from the container to this graph.
    void CollectReferences(VJSONObject* inObject, VJSONArray* inArray);

    // Frees what hangs on the container when it is held only by containers reachable from it plus
    // one reference (the caller's). The list form sums the listed containers' counts: when the sum
    // is inReferences the list is garbage and is emptied and released. It returns the sum.
    static void ReleaseObjectDependenciesIfNecessary(VJSONObject* inObject);
    static void ReleaseArrayDependenciesIfNecessary(VJSONArray* inArray);
    static int64_t ReleaseDependenciesIfNecessary(VJSONGraph* inGraph,
                                                  const std::vector<VJSONObject*>& inObjects,
                                                  const std::vector<VJSONArray*>& inArrays,
                                                  int64_t inReferences);
    // For a member's release, before its count drops: when the reference being released is the
    // last one from outside the graph, frees every member (true). Otherwise takes the reference
    // off the graph's total (false).
    static bool ReleaseGraphDependenciesIfNecessary(VJSONGraph* inGraph);

    bool HasCycle() const { return fCycle.load(std::memory_order_relaxed); }
    bool IsShared() const { return fShared.load(std::memory_order_relaxed); }
    void MakeShared() { fShared.store(true, std::memory_order_relaxed); }
    int64_t GetReferenceTotal() const { return fReferenceTotal.load(std::memory_order_acquire); }
    uint32_t GetInternalReferences() const { return fInternal.load(std::memory_order_relaxed); }
    size_t GetMemberCount() const { return fObjects.size() + fArrays.size(); }

    // The graph of a container (not retained), and the references to it counted in its graph.
    static VJSONGraph* GraphOf(const VJSONObject* inObject);
    static VJSONGraph* GraphOf(const VJSONArray* inArray);
    static uint32_t ContainerCountOf(const VJSONObject* inObject);
    static uint32_t ContainerCountOf(const VJSONArray* inArray);

    // The Retain and Release of objects and arrays: a container in a graph keeps the graph's
    // total, and its release frees the graph when it is garbage (under StGraphLocker::sMutex for a
    // shared container or graph). A plain container in no graph counts its own references alone.
    template <class TContainer>
    static uint32_t RetainMember(const TContainer* inContainer, const char* inDebugInfo)
    {
        if (inContainer->GetGraph() == nullptr && !inContainer->HasStorageLocker())
        {
            return inContainer->IRefCountable::Retain(inDebugInfo);
        }
        return _RetainLinked(inContainer, inDebugInfo);
    }
    template <class TContainer>
    static uint32_t ReleaseMember(const TContainer* inContainer, const char* inDebugInfo)
    {
        if (inContainer->GetGraph() == nullptr && !inContainer->HasStorageLocker())
        {
            return inContainer->IRefCountable::Release(inDebugInfo);
        }
        return _ReleaseLinked(inContainer, inDebugInfo);
    }

    // For a member's destructor: the references its properties or elements held are no longer
    // counted, and it leaves the graph (whose reference it gives back).
    static void Leave(VJSONObject* inObject);
    static void Leave(VJSONArray* inArray);
    // For a member that drops all its properties or elements at once: the references they held
    // are no longer counted (nothing is freed here).
    static void Uncount(VJSONGraph* inGraph, const VJSONValue& inValue);

private:
    template <class TContainer>
    static uint32_t _RetainLinked(const TContainer* inContainer, const char* inDebugInfo);
    template <class TContainer>
    static uint32_t _ReleaseLinked(const TContainer* inContainer, const char* inDebugInfo);

    // A container of the graph, object or array.
    struct Node
    {
        VJSONObject* fObject = nullptr;
        VJSONArray* fArray = nullptr;
        bool operator==(const Node&) const = default;
        const void* Key() const;
    };
    static Node _NodeOf(const VJSONValue& inValue);
    static std::atomic<VJSONGraph*>& _Slot(Node inNode);
    static uint32_t& _ContainerCount(Node inNode);
    static uint32_t _RefCount(Node inNode);
    static bool _IsShared(Node inNode);
    // Calls inVisit(Node) for each object or array the container holds, in order.
    template <class TVisit>
    static void _ForEachChild(Node inNode, TVisit&& inVisit);
    // The locker pointer of the container (not retained; read under sMutex or by its owner).
    static const class VStorageLocker* _Locker(Node inNode);

    // Counts one reference from a member to inValue (a member), or takes one off.
    void _CountReference(Node inValue);
    void _Uncount(Node inValue);
    static void _Leave(Node inNode);
    // Makes inNode a member (retaining the graph) and counts its references.
    void _Join(Node inNode);
    // Collects from inStart, which may already be a member. A reference from a container collected
    // here to another collected here sets the cycle flag; with inFlagOldMembers a reference to a
    // member from before the collection does too.
    void _Collect(Node inStart, bool inFlagOldMembers);
    // Moves the members of inOther into this graph.
    void _Merge(VJSONGraph* inOther);
    // Takes every listed member out of the graph and empties it, then releases it.
    void _FreeMembers(const std::vector<Node>& inMembers);
    static void _ReleaseDependenciesOf(Node inNode);

    std::atomic<bool> fCycle;
    std::atomic<bool> fShared;
    std::atomic<int64_t> fReferenceTotal{0};
    std::atomic<uint32_t> fInternal{0};
    std::set<VJSONObject*> fObjects;
    std::set<VJSONArray*> fArrays;
};

} // namespace zorn
