#include "toolbox/intl/VLocalizationManager.h"
#include "toolbox/intl/VUTI.h"
#include "toolbox/intl/VUTIManager.h"
#include "toolbox/kernel/base/VRefPtr.h"

#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

using namespace zorn;

namespace
{

TEST(UTITests, TagsAreKeptOnceInInsertionOrder)
{
    VRefPtr<VUTI> type(new VUTI(VString("com.example.text")), true);
    for (const char* tag : {"txt", "text", "txt", "log", "text"})
    {
        type->AddExtension(VString(tag));
    }
    std::vector<VString> extensions = type->GetExtensionsVector();
    ASSERT_EQ(extensions.size(), 3U);
    EXPECT_TRUE(extensions[0].EqualToStringRaw(VString("txt")));
    EXPECT_TRUE(extensions[1].EqualToStringRaw(VString("text")));
    EXPECT_TRUE(extensions[2].EqualToStringRaw(VString("log")));

    type->AddMIMEType(VString("text/plain"));
    type->AddMIMEType(VString("text/plain"));
    type->AddOSType(VString("TEXT"));
    EXPECT_EQ(type->GetMIMETypesVector().size(), 1U);
    EXPECT_EQ(type->GetOSTypesVector().size(), 1U);

    EXPECT_FALSE(type->IsPublic());
    EXPECT_TRUE(VUTI(VString("public.plain-text")).IsPublic());
}

TEST(UTITests, ParentsAndChildrenHoldReferencesUntilDetached)
{
    VUTI* parent = new VUTI(VString("public.data"));
    VUTI* child = new VUTI(VString("com.example.doc"));
    EXPECT_TRUE(child->AddParentUTI(parent));
    EXPECT_TRUE(parent->AddChildUTI(child));
    EXPECT_FALSE(child->AddParentUTI(parent)) << "already present";
    VUTI anonymous;
    EXPECT_FALSE(child->AddParentUTI(&anonymous)) << "a type without identifier";
    EXPECT_EQ(parent->GetRefCount(), 2U);
    EXPECT_EQ(child->GetRefCount(), 2U);

    // Maps are ordered by identifier.
    VUTI* other = new VUTI(VString("public.content"));
    child->AddParentUTI(other);
    VUTIMap parents = child->GetParentUTIsMap();
    ASSERT_EQ(parents.size(), 2U);
    EXPECT_EQ(parents.begin()->second, other);

    // Replacing a map releases what it held and retains what it takes.
    child->SetParentUTIsMap(VUTIMap{{parent->GetIdentifier(), parent}});
    EXPECT_EQ(other->GetRefCount(), 1U);
    EXPECT_EQ(parent->GetRefCount(), 2U);
    other->Release();

    child->_Detach();
    parent->_Detach();
    EXPECT_EQ(parent->GetRefCount(), 1U);
    EXPECT_EQ(child->GetRefCount(), 1U);
    EXPECT_TRUE(child->GetParentUTIsMap().empty());
    parent->Release();
    child->Release();
}

TEST(UTIManagerTests, FirstDeclarationOfAnIdentifierStays)
{
    VUTIManager* manager = VUTIManager::GetUTIManager();
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(manager->GetUTICount(), 0U) << "empty until declarations are read";
    manager->SetSystemTypesFile(nullptr);

    VRefPtr<VUTI> first(new VUTI(VString("com.example.doc")), true);
    VRefPtr<VUTI> second(new VUTI(VString("com.example.doc")), true);
    VRefPtr<VUTI> anonymous(new VUTI(), true);
    EXPECT_TRUE(manager->AddNewUTI(first.Get()));
    EXPECT_FALSE(manager->AddNewUTI(second.Get()));
    EXPECT_FALSE(manager->AddNewUTI(anonymous.Get()));
    EXPECT_EQ(manager->GetUTI(VString("com.example.doc")), first.Get());
    EXPECT_EQ(first->GetRefCount(), 2U);

    // The manager's end detaches and releases its types.
    VRefPtr<VUTI> parent(new VUTI(VString("public.data")), true);
    EXPECT_TRUE(manager->AddNewUTI(parent.Get()));
    first->AddParentUTI(parent.Get());
    parent->AddChildUTI(first.Get());
    EXPECT_TRUE(VUTIManager::DeInit());
    EXPECT_EQ(first->GetRefCount(), 1U);
    EXPECT_EQ(parent->GetRefCount(), 1U);
    EXPECT_TRUE(first->GetParentUTIsMap().empty());
    EXPECT_TRUE(parent->GetChildrenUTIsMap().empty());

    VUTIManager* again = VUTIManager::GetUTIManager();
    EXPECT_EQ(again->GetUTICount(), 0U) << "a new, empty registry after DeInit";
    VUTIManager::Delete();
}

TEST(UTIManagerTests, KeepsTheLocalizationManagerItWasGivenWithoutAReference)
{
    VRefPtr<VLocalizationManager> localizer(new VLocalizationManager(1033), true);
    VUTIManager* manager = VUTIManager::GetUTIManager();
    EXPECT_EQ(manager->GetLocalizationManager(), nullptr);
    manager->SetLocalizationManager(localizer.Get());
    EXPECT_EQ(manager->GetLocalizationManager(), localizer.Get());
    EXPECT_EQ(localizer->GetRefCount(), 1U);
    VUTIManager::Delete();
}

TEST(UTIManagerTests, EveryTaskGetsTheSameSingleton)
{
    for (int round = 0; round < 4; ++round)
    {
        std::vector<VUTIManager*> seen(8, nullptr);
        std::latch start(static_cast<std::ptrdiff_t>(seen.size()));
        std::vector<std::thread> threads;
        for (size_t i = 0; i < seen.size(); ++i)
        {
            threads.emplace_back(
                [&seen, &start, i]
                {
                    start.arrive_and_wait();
                    seen[i] = VUTIManager::GetUTIManager();
                });
        }
        for (std::thread& thread : threads)
        {
            thread.join();
        }
        ASSERT_NE(seen[0], nullptr);
        for (VUTIManager* manager : seen)
        {
            EXPECT_EQ(manager, seen[0]) << "round " << round;
        }
        EXPECT_EQ(VUTIManager::GetUTIManager(), seen[0]);
        VUTIManager::DeInit();
    }
}

} // namespace
