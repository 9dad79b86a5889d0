#include "plan/PlanLayout.h"

#include "plan/Errors.h"
#include "plan/FieldTypes.h"
#include "plan/SharedPlanFile.h"

namespace tarvolen {

namespace {

// The plan's own rule, beside those a file may declare.
constexpr const char* kRequiredField = planfield::kId;

bool isEmptyValue(const FieldValue& v) {
    if (isNull(v)) return true;
    if (const auto* s = std::get_if<std::string>(&v)) return s->empty();
    return false;
}

}  // namespace

void configurePlanTable(TClientDataSet& cdsQuery) {
    cdsQuery.SetFileName(kPlanFileName);
    // One slip (an emptied plan written back, a bad edit saved) must never cost the plan.
    cdsQuery.SetKeepBackup(true);
    cdsQuery.SetFileKeeper(std::make_unique<SharedPlanFile>(cdsQuery));
    configurePlanFields(cdsQuery);
}

void configurePlanFields(TClientDataSet& cdsQuery) {
    cdsQuery.SetIndexFieldNames(planfield::kId);
    cdsQuery.AddField(kRequiredField, FieldKind::Integer, 0, true);
    cdsQuery.AddField(planfield::kStato, FieldKind::String, 1);
    cdsQuery.AddField(planfield::kTipo, FieldKind::String, 1);
    cdsQuery.AddField(planfield::kSeparatore, FieldKind::String, 5);
    cdsQuery.AddField(planfield::kTesto, FieldKind::Memo);
    cdsQuery.AddField(planfield::kOrdine, FieldKind::Integer);
    cdsQuery.AddField(planfield::kNomeTabella, FieldKind::String, 40);
    cdsQuery.AddField(planfield::kNomeFile, FieldKind::String, 255);
    cdsQuery.AddField(planfield::kSvuotaTabella, FieldKind::String, 1);
    cdsQuery.AddField(planfield::kVersione, FieldKind::String, 15);
}

void CheckPlanRows(TClientDataSet& cdsQuery) {
    const DataPacket& packet = cdsQuery.Packet();
    std::vector<size_t> required;
    for (size_t i = 0; i < packet.fields.size(); ++i) {
        if (packet.fields[i].required() || packet.fields[i].name == kRequiredField)
            required.push_back(i);
    }
    int row = 0;
    for (cdsQuery.First(); !cdsQuery.Eof(); cdsQuery.Next()) {
        ++row;
        for (size_t field : required) {
            if (!isEmptyValue(cdsQuery.CurrentValue(field))) continue;
            const TField* id = cdsQuery.FindField(kRequiredField);
            const std::string which = id != nullptr && !id->IsNull() ? "ID " + id->AsString()
                                                                     : std::string("no ID");
            throw EDBClient(dberr::fieldValueRequired().errorCode(),
                            cdsQuery.Name() + ": row " + std::to_string(row) + " (" + which +
                                "), field " + packet.fields[field].name + ": " +
                                dberr::fieldValueRequired().what());
        }
    }
    cdsQuery.First();
}

DataPacket emptyPlanPacket() {
    auto field = [](const char* name, FieldType type, int width, const char* subtype = nullptr) {
        FieldDef f;
        f.name = name;
        f.type = type;
        if (subtype != nullptr)
            f.attributes.push_back({"SUBTYPE", typeword::kString2, std::string(subtype)});
        if (width > 0) f.attributes.push_back({"WIDTH", typeword::kInt16, int64_t{width}});
        f.typeWord = typeWordFor(type, width);
        return f;
    };
    DataPacket packet;
    packet.fields = {
        field(planfield::kId, FieldType::Int32, 0),
        field(planfield::kStato, FieldType::String, 1),
        field(planfield::kTipo, FieldType::String, 1),
        field(planfield::kSeparatore, FieldType::String, 5),
        field(planfield::kTesto, FieldType::Blob, 0, "Text"),
        field(planfield::kOrdine, FieldType::Int32, 0),
        field(planfield::kNomeTabella, FieldType::String, 40),
        field(planfield::kNomeFile, FieldType::String, 255),
        field(planfield::kSvuotaTabella, FieldType::String, 1),
        field(planfield::kVersione, FieldType::String, 20),
    };
    packet.fields[0].bits = fieldbits::kRequired;
    return packet;
}

}  // namespace tarvolen
