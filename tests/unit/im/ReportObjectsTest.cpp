// Report objects as the query functions print them.
#include <gtest/gtest.h>

#include "plugins/im/Entity.h"
#include "plugins/im/EntityState.h"
#include "plugins/im/ImScanStatus.h"
#include "plugins/im/IntegrityEvent.h"
#include "plugins/im/IntegrityRuleAssignment.h"
#include "tests/unit/im/RuleTestSupport.h"

using namespace KvoPluginIm;

namespace KvoTest {
namespace {

TEST(ReportObjects, EntityWrapsItsAttributesAndAlwaysPrintsAValue) {
    CEntitys entities;
    auto* entity = new CEntity();
    entity->SetId(12);
    entity->SetType(wxT("File"));
    entity->SetIntegrityRuleId(1);
    entity->SetKey(wxT("/etc/passwd"));
    entity->SetFastHash(wxT("00ff"));
    auto* empty = new CEntityAttribute();
    empty->SetName(wxT("symLinkPath"));
    entity->GetAttributes().Append(empty);
    auto* owner = new CEntityAttribute();
    owner->SetName(wxT("owner"));
    owner->SetValue(wxT("0"));
    owner->SetFriendlyValue(wxT("root"));
    entity->GetAttributes().Append(owner);
    entities.Append(entity);
    EXPECT_EQ(
        "<Entitys>\n"
        "  <Entity id=\"12\" type=\"File\" integrityRuleId=\"1\" key=\"/etc/passwd\" fingerprinted=\"0\" "
        "fastHash=\"00ff\">\n"
        "    <Attributes>\n"
        "      <Attribute name=\"symLinkPath\" value=\"\"/>\n"
        "      <Attribute name=\"owner\" value=\"0\" friendlyValue=\"root\"/>\n"
        "    </Attributes>\n"
        "  </Entity>\n"
        "</Entitys>\n",
        Text(entities.toString()));
    EXPECT_EQ("<Entitys/>\n", Text(CEntitys().toString()));
}

TEST(ReportObjects, EntityListsReadBackFromTheirXml) {
    CEntitys entities;
    ASSERT_TRUE(entities.FromXML(
        wxT("<Entitys><Entity id=\"5\" key=\"k\"><Attributes><Attribute name=\"size\" value=\"\"/>")
            wxT("</Attributes></Entity></Entitys>")));
    ASSERT_EQ(1u, entities.size());
    const auto& entity = *dynamic_cast<const CEntity*>(entities.Children()[0]);
    EXPECT_EQ(5, entity.GetId());
    ASSERT_EQ(1u, entity.GetAttributes().size());
    EXPECT_EQ("size",
              Text(dynamic_cast<const CEntityAttribute*>(entity.GetAttributes().Children()[0])->GetName()));
}

TEST(ReportObjects, ScanStatusPrintsTheCommonFieldsFirst) {
    CImScanStatus status;
    EXPECT_EQ(KvoCore::CScanStatus::Idle, status.GetStatus());
    status.SetStatus(KvoCore::CScanStatus::InProgress);
    status.SetInteractive(0);
    status.SetImScanType(3);
    status.SetPendingScanBitmask(10);
    status.SetHighestEntityId(1LL << 40);
    status.SetImCapabilityMask(3);
    status.SetEventMode(2);
    EXPECT_EQ(
        "<ImScanStatus scanError=\"false\" status=\"1\" interactive=\"0\" imScanType=\"3\" "
        "percentComplete=\"0\" "
        "pendingScanBitmask=\"10\" highestEntityId=\"1099511627776\" imCapabilityMask=\"3\" "
        "eventMode=\"2\"/>\n",
        Text(status.toString()));
}

TEST(ReportObjects, EventsAreKeyedByTheirIdAndWrapped) {
    CIntegrityEvents events;
    auto* event = new CIntegrityEvent();
    event->SetIntegrityEventId(9);
    event->SetChange(2);
    event->SetUser(wxT("root"));
    events.Append(event);
    ASSERT_NE(nullptr, event->GetKeyAttribute());
    EXPECT_EQ("integrityEventId", Text(event->GetKeyAttribute()->name));
    EXPECT_EQ(
        "<IntegrityEvents>\n"
        "  <IntegrityEvent integrityEventId=\"9\" recorded=\"0\" status=\"0\" integrityRuleId=\"0\" "
        "change=\"2\" "
        "severity=\"0\" wasEntity=\"0\" isEntity=\"0\" user=\"root\"/>\n"
        "</IntegrityEvents>\n",
        Text(events.toString()));
}

TEST(ReportObjects, EntityStateAndAssignmentsReadTheirElements) {
    CEntityState state;
    ASSERT_TRUE(state.FromXML(wxT("<EntityState lastEntityID=\"123456789012\" limit=\"500\"/>")));
    EXPECT_EQ(123456789012LL, state.GetLastEntityId());
    EXPECT_EQ(500, state.GetLimit());

    CIntegrityRuleAssignments assignments;
    ASSERT_TRUE(assignments.FromXML(
        wxT("<IntegrityRuleAssignments><IntegrityRuleAssignment integrityRuleId=\"3\"/>")
            wxT("<IntegrityRuleAssignment integrityRuleId=\"4\"/></IntegrityRuleAssignments>")));
    ASSERT_EQ(2u, assignments.size());
    EXPECT_EQ(4,
              dynamic_cast<const CIntegrityRuleAssignment*>(assignments.Children()[1])->GetIntegrityRuleId());
}

}  // namespace
}  // namespace KvoTest
