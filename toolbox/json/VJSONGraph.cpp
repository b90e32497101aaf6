#include "toolbox/json/VJSONGraph.h"

#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/json/VStorageLocker.h"
#include "toolbox/kernel/base/VRefPtr.h"

#include <utility>

namespace zorn
{

VJSONGraph::VJSONGraph(bool inCycle, bool inShared) : fCycle(inCycle), fShared(inShared) {}

VJSONGraph::~VJSONGraph() = default;

// ------------------------------------------------------------------------------------------------
// Members

const void* VJSONGraph::Node::Key() const
{
    return fObject != nullptr ? static_cast<const void*>(fObject) : static_cast<const void*>(fArray);
}

VJSONGraph::Node VJSONGraph::_NodeOf(const VJSONValue& inValue)
{
    return Node{inValue.GetObject(), inValue.GetArray()};
}

std::atomic<VJSONGraph*>& VJSONGraph::_Slot(Node inNode)
{
    return inNode.fObject != nullptr ? inNode.fObject->fGraph : inNode.fArray->fGraph;
}

uint32_t& VJSONGraph::_ContainerCount(Node inNode)
{
    return inNode.fObject != nullptr ? inNode.fObject->fContainerCount : inNode.fArray->fContainerCount;
}

uint32_t VJSONGraph::_RefCount(Node inNode)
{
    return inNode.fObject != nullptr ? inNode.fObject->GetRefCount() : inNode.fArray->GetRefCount();
}

bool VJSONGraph::_IsShared(Node inNode)
{
    return inNode.fObject != nullptr ? inNode.fObject->IsShared() : inNode.fArray->HasStorageLocker();
}

const VStorageLocker* VJSONGraph::_Locker(Node inNode)
{
    return inNode.fObject != nullptr ? inNode.fObject->fLocker.load(std::memory_order_relaxed)
                                     : inNode.fArray->fLocker.load(std::memory_order_relaxed);
}

template <class TVisit>
void VJSONGraph::_ForEachChild(Node inNode, TVisit&& inVisit)
{
    auto visit = [&inVisit](const VJSONValue& inValue)
    {
        if (inValue.IsObject() || inValue.IsArray())
        {
            inVisit(_NodeOf(inValue));
        }
    };
    if (inNode.fObject != nullptr)
    {
        for (const VJSONObject::OwnProperty& property : inNode.fObject->fProperties)
        {
            visit(property.fValue);
        }
    }
    else
    {
        for (const VJSONValue& value : inNode.fArray->fValues)
        {
            visit(value);
        }
    }
}

VJSONGraph* VJSONGraph::GraphOf(const VJSONObject* inObject)
{
    return inObject->fGraph.load(std::memory_order_acquire);
}

VJSONGraph* VJSONGraph::GraphOf(const VJSONArray* inArray)
{
    return inArray->fGraph.load(std::memory_order_acquire);
}

uint32_t VJSONGraph::ContainerCountOf(const VJSONObject* inObject)
{
    return inObject->fContainerCount;
}

uint32_t VJSONGraph::ContainerCountOf(const VJSONArray* inArray)
{
    return inArray->fContainerCount;
}

void VJSONGraph::_CountReference(Node inValue)
{
    ++_ContainerCount(inValue);
    fInternal.fetch_add(1, std::memory_order_relaxed);
}

void VJSONGraph::_Join(Node inNode)
{
    Retain();
    _Slot(inNode).store(this, std::memory_order_release);
    if (inNode.fObject != nullptr)
    {
        fObjects.insert(inNode.fObject);
    }
    else
    {
        fArrays.insert(inNode.fArray);
    }
    fReferenceTotal.fetch_add(_RefCount(inNode), std::memory_order_acq_rel);
    if (_IsShared(inNode))
    {
        MakeShared();
    }
}

void VJSONGraph::_Merge(VJSONGraph* inOther)
{
    if (inOther == this || inOther == nullptr)
    {
        return;
    }
    // The other graph goes with its members' references; it is kept until they are all moved.
    VRefPtr<VJSONGraph> other(inOther);
    if (inOther->HasCycle())
    {
        fCycle.store(true, std::memory_order_relaxed);
    }
    if (inOther->IsShared())
    {
        MakeShared();
    }
    fReferenceTotal.fetch_add(inOther->fReferenceTotal.exchange(0), std::memory_order_acq_rel);
    fInternal.fetch_add(inOther->fInternal.exchange(0), std::memory_order_relaxed);
    for (VJSONObject* member : inOther->fObjects)
    {
        Retain();
        member->fGraph.store(this, std::memory_order_release);
        fObjects.insert(member);
    }
    for (VJSONArray* member : inOther->fArrays)
    {
        Retain();
        member->fGraph.store(this, std::memory_order_release);
        fArrays.insert(member);
    }
    size_t moved = inOther->fObjects.size() + inOther->fArrays.size();
    inOther->fObjects.clear();
    inOther->fArrays.clear();
    for (size_t i = 0; i < moved; ++i)
    {
        inOther->Release();
    }
}

void VJSONGraph::_Collect(Node inStart, bool inFlagOldMembers)
{
    // Iterative, so that no depth of tree can exhaust the stack.
    std::unordered_set<const void*> collected;
    std::vector<Node> pending;
    auto reach = [&](Node inNode, bool inByReference)
    {
        VJSONGraph* graph = _Slot(inNode).load(std::memory_order_acquire);
        if (graph == this)
        {
            if (inByReference && (inFlagOldMembers || collected.contains(inNode.Key())))
            {
                fCycle.store(true, std::memory_order_relaxed);
            }
            return;
        }
        if (graph != nullptr)
        {
            // A container of another graph: that graph's references are counted already.
            _Merge(graph);
            return;
        }
        _Join(inNode);
        collected.insert(inNode.Key());
        pending.push_back(inNode);
    };
    reach(inStart, false);
    while (!pending.empty())
    {
        Node node = pending.back();
        pending.pop_back();
        VSharedObjectLocker section(_Locker(node));
        _ForEachChild(node,
                      [&](Node inChild)
                      {
                          _CountReference(inChild);
                          reach(inChild, true);
                      });
    }
}

void VJSONGraph::CollectReferences(VJSONObject* inObject, VJSONArray* inArray)
{
    if (inObject != nullptr || inArray != nullptr)
    {
        _Collect(Node{inObject, inArray}, true);
    }
}

// ------------------------------------------------------------------------------------------------
// Reference counting

template <class TContainer>
uint32_t VJSONGraph::_RetainLinked(const TContainer* inContainer, const char* inDebugInfo)
{
    StGraphLockerIf lock(inContainer->IsSharedGraph());
    if (VJSONGraph* graph = inContainer->GetGraph())
    {
        graph->fReferenceTotal.fetch_add(1, std::memory_order_acq_rel);
    }
    return inContainer->IRefCountable::Retain(inDebugInfo);
}

template <class TContainer>
uint32_t VJSONGraph::_ReleaseLinked(const TContainer* inContainer, const char* inDebugInfo)
{
    StGraphLockerIf lock(inContainer->IsSharedGraph());
    if (VJSONGraph* graph = inContainer->GetGraph())
    {
        ReleaseGraphDependenciesIfNecessary(graph);
    }
    return inContainer->IRefCountable::Release(inDebugInfo);
}

template uint32_t VJSONGraph::_RetainLinked(const VJSONObject*, const char*);
template uint32_t VJSONGraph::_RetainLinked(const VJSONArray*, const char*);
template uint32_t VJSONGraph::_ReleaseLinked(const VJSONObject*, const char*);
template uint32_t VJSONGraph::_ReleaseLinked(const VJSONArray*, const char*);

// ------------------------------------------------------------------------------------------------
// Linking

namespace
{

bool NeedsGraphLock(VJSONObject* inObject, VJSONArray* inArray)
{
    if (inObject != nullptr)
    {
        VJSONGraph* graph = inObject->GetGraph();
        return inObject->IsShared() || (graph != nullptr && graph->IsShared());
    }
    if (inArray != nullptr)
    {
        VJSONGraph* graph = inArray->GetGraph();
        return inArray->HasStorageLocker() || (graph != nullptr && graph->IsShared());
    }
    return false;
}

} // namespace

void VJSONGraph::Connect(VJSONObject* inTargetObject, VJSONArray* inTargetArray, VJSONObject* inValueObject,
                         VJSONArray* inValueArray, bool inHeldByTarget)
{
    const Node target{inTargetObject, inTargetArray};
    const Node value{inValueObject, inValueArray};
    if (target.Key() == nullptr || value.Key() == nullptr)
    {
        return;
    }
    StGraphLockerIf lock(NeedsGraphLock(inTargetObject, inTargetArray) ||
                         NeedsGraphLock(inValueObject, inValueArray));
    VJSONGraph* targetGraph = _Slot(target).load(std::memory_order_acquire);
    VJSONGraph* valueGraph = _Slot(value).load(std::memory_order_acquire);
    if (targetGraph == nullptr && valueGraph == nullptr)
    {
        // A new graph, held by its members only. Collecting the target meets the value when the
        // target holds it (a self-reference sets the cycle flag there).
        VRefPtr<VJSONGraph> graph(new VJSONGraph(false, false), true);
        graph->_Collect(target, true);
        if (!inHeldByTarget)
        {
            graph->_CountReference(value);
            if (_Slot(value).load(std::memory_order_acquire) == graph.Get())
            {
                graph->fCycle.store(true, std::memory_order_relaxed);
            }
            graph->_Collect(value, true);
        }
        return;
    }
    if (targetGraph == nullptr)
    {
        // The target joins the value's graph: nothing in that graph can lead back to the target,
        // so only references between the newly collected containers can close a cycle.
        VRefPtr<VJSONGraph> graph(valueGraph);
        if (!inHeldByTarget)
        {
            graph->_CountReference(value);
        }
        graph->_Collect(target, false);
        return;
    }
    VRefPtr<VJSONGraph> graph(targetGraph);
    graph->_CountReference(value);
    if (valueGraph == targetGraph)
    {
        graph->fCycle.store(true, std::memory_order_relaxed);
    }
    else if (valueGraph == nullptr)
    {
        graph->_Collect(value, true);
    }
    else
    {
        // Nothing of the value's graph leads into the target's: joining them closes no cycle.
        graph->_Merge(valueGraph);
    }
}

void VJSONGraph::Connect(VJSONObject* inTargetObject, VJSONArray* inTargetArray, const VJSONValue& inValue,
                         bool inHeldByTarget)
{
    if (inValue.IsObject() || inValue.IsArray())
    {
        Connect(inTargetObject, inTargetArray, inValue.GetObject(), inValue.GetArray(), inHeldByTarget);
    }
}

void VJSONGraph::_Uncount(Node inNode)
{
    uint32_t& count = _ContainerCount(inNode);
    if (count > 0)
    {
        --count;
        fInternal.fetch_sub(1, std::memory_order_relaxed);
    }
}

void VJSONGraph::Uncount(VJSONGraph* inGraph, const VJSONValue& inValue)
{
    if (inGraph != nullptr && (inValue.IsObject() || inValue.IsArray()))
    {
        inGraph->_Uncount(_NodeOf(inValue));
    }
}

void VJSONGraph::Disconnect(VJSONGraph* inGraph, const VJSONValue& inValue)
{
    if (inGraph == nullptr || !(inValue.IsObject() || inValue.IsArray()))
    {
        return;
    }
    Node node = _NodeOf(inValue);
    StGraphLockerIf lock(NeedsGraphLock(node.fObject, node.fArray));
    inGraph->_Uncount(node);
    _ReleaseDependenciesOf(node);
}

void VJSONGraph::_Leave(Node inNode)
{
    VJSONGraph* graph = _Slot(inNode).load(std::memory_order_acquire);
    if (graph == nullptr)
    {
        return;
    }
    StGraphLockerIf lock(graph->IsShared());
    _ForEachChild(inNode, [graph](Node inChild) { graph->_Uncount(inChild); });
    if (inNode.fObject != nullptr)
    {
        graph->fObjects.erase(inNode.fObject);
    }
    else
    {
        graph->fArrays.erase(inNode.fArray);
    }
    _Slot(inNode).store(nullptr, std::memory_order_release);
    graph->Release();
}

void VJSONGraph::Leave(VJSONObject* inObject)
{
    _Leave(Node{inObject, nullptr});
}

void VJSONGraph::Leave(VJSONArray* inArray)
{
    _Leave(Node{nullptr, inArray});
}

// ------------------------------------------------------------------------------------------------
// Freeing cycles

void VJSONGraph::_FreeMembers(const std::vector<Node>& inMembers)
{
    // Each member leaves the graph with all its references, and is held here while the
    // references between the members are dropped, so that none is freed half emptied.
    VRefPtr<VJSONGraph> keep(this);
    for (Node member : inMembers)
    {
        if (member.fObject != nullptr)
        {
            fObjects.erase(member.fObject);
        }
        else
        {
            fArrays.erase(member.fArray);
        }
        _Slot(member).store(nullptr, std::memory_order_release);
        fReferenceTotal.fetch_sub(_RefCount(member), std::memory_order_acq_rel);
        if (member.fObject != nullptr)
        {
            member.fObject->Retain();
        }
        else
        {
            member.fArray->Retain();
        }
        Release();
    }
    for (Node member : inMembers)
    {
        _ForEachChild(member, [this](Node) { fInternal.fetch_sub(1, std::memory_order_relaxed); });
        _ContainerCount(member) = 0;
        if (member.fObject != nullptr)
        {
            member.fObject->_EmptyForGraph();
        }
        else
        {
            member.fArray->_EmptyForGraph();
        }
    }
    for (Node member : inMembers)
    {
        if (member.fObject != nullptr)
        {
            member.fObject->Release();
        }
        else
        {
            member.fArray->Release();
        }
    }
}

int64_t VJSONGraph::ReleaseDependenciesIfNecessary(VJSONGraph* inGraph,
                                                   const std::vector<VJSONObject*>& inObjects,
                                                   const std::vector<VJSONArray*>& inArrays,
                                                   int64_t inReferences)
{
    int64_t sum = 0;
    for (VJSONObject* object : inObjects)
    {
        sum += object->GetRefCount();
    }
    for (VJSONArray* array : inArrays)
    {
        sum += array->GetRefCount();
    }
    if (sum != inReferences || inGraph == nullptr)
    {
        return sum;
    }
    std::vector<Node> members;
    members.reserve(inObjects.size() + inArrays.size());
    for (VJSONObject* object : inObjects)
    {
        members.push_back(Node{object, nullptr});
    }
    for (VJSONArray* array : inArrays)
    {
        members.push_back(Node{nullptr, array});
    }
    inGraph->_FreeMembers(members);
    return sum;
}

void VJSONGraph::_ReleaseDependenciesOf(Node inNode)
{
    // Held by containers and by one more reference (the caller's) only: it may be a cycle's last
    // link to the outside.
    const uint32_t count = _ContainerCount(inNode);
    VJSONGraph* graph = _Slot(inNode).load(std::memory_order_acquire);
    if (graph == nullptr || count == 0 || count + 1 != _RefCount(inNode))
    {
        return;
    }
    std::vector<VJSONObject*> objects;
    std::vector<VJSONArray*> arrays;
    std::unordered_set<const void*> listed{inNode.Key()};
    std::vector<Node> pending{inNode};
    int64_t references = 1; // the caller's
    bool cycle = false;
    while (!pending.empty())
    {
        Node node = pending.back();
        pending.pop_back();
        if (node.fObject != nullptr)
        {
            objects.push_back(node.fObject);
        }
        else
        {
            arrays.push_back(node.fArray);
        }
        VSharedObjectLocker section(_Locker(node));
        _ForEachChild(node,
                      [&](Node inChild)
                      {
                          ++references;
                          if (!listed.insert(inChild.Key()).second)
                          {
                              cycle = true;
                              return;
                          }
                          pending.push_back(inChild);
                      });
    }
    if (cycle)
    {
        ReleaseDependenciesIfNecessary(graph, objects, arrays, references);
    }
}

void VJSONGraph::ReleaseObjectDependenciesIfNecessary(VJSONObject* inObject)
{
    if (inObject != nullptr)
    {
        StGraphLockerIf lock(NeedsGraphLock(inObject, nullptr));
        _ReleaseDependenciesOf(Node{inObject, nullptr});
    }
}

void VJSONGraph::ReleaseArrayDependenciesIfNecessary(VJSONArray* inArray)
{
    if (inArray != nullptr)
    {
        StGraphLockerIf lock(NeedsGraphLock(nullptr, inArray));
        _ReleaseDependenciesOf(Node{nullptr, inArray});
    }
}

bool VJSONGraph::ReleaseGraphDependenciesIfNecessary(VJSONGraph* inGraph)
{
    // One compare-and-swap decides between "the last reference from outside" and "one of several",
    // so two tasks releasing the last two outside references at once cannot both see another.
    int64_t total = inGraph->fReferenceTotal.load(std::memory_order_acquire);
    for (;;)
    {
        if (inGraph->HasCycle() && total == static_cast<int64_t>(inGraph->GetInternalReferences()) + 1)
        {
            std::vector<Node> members;
            members.reserve(inGraph->GetMemberCount());
            for (VJSONObject* object : inGraph->fObjects)
            {
                members.push_back(Node{object, nullptr});
            }
            for (VJSONArray* array : inGraph->fArrays)
            {
                members.push_back(Node{nullptr, array});
            }
            inGraph->_FreeMembers(members);
            return true;
        }
        if (inGraph->fReferenceTotal.compare_exchange_weak(total, total - 1, std::memory_order_acq_rel))
        {
            return false;
        }
    }
}

} // namespace zorn
