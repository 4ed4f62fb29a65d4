// Scanning the element world: file order, range and view tests, the end of the file, models with their
// references in order, reference elements read at their offset and never changed, references refused
// with their file named, the selection set as the application reads it, and the fence saved to an
// element and restored with its view.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/mdlelement.h"
#include "host/mdlraster.h"
#include "host/mdlscan.h"
#include "subhost/elements.h"
#include "subhost/host.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using subhost::elements::elementState;

json line(int id, double x0, double y0, double x1, double y1, int level = 0) {
    return {{"id", id}, {"type", "line"}, {"points", {{x0, y0}, {x1, y1}}}, {"level", level}};
}

json square(int id, double x, double y, double side) {
    return {{"id", id}, {"type", "shape"}, {"points", {{x, y}, {x + side, y}, {x + side, y + side}, {x, y + side}}}};
}

class Scan : public ::testing::Test {
protected:
    void SetUp() override {
        subhost::hostReset();
        dir_ = fs::temp_directory_path() / ("pxm-scan-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        subhost::hostReset();
        fs::remove_all(dir_);
    }

    std::string write(const json& doc, const std::string& name) {
        std::ofstream(dir_ / name) << doc.dump();
        return (dir_ / name).string();
    }
    void open(const json& doc) {
        std::string error;
        ASSERT_TRUE(subhost::openDesign(write(doc, "design.json"), &error)) << error;
    }
    std::string refusal(const json& doc) {
        std::string error;
        EXPECT_FALSE(subhost::openDesign(write(doc, "design.json"), &error));
        return error;
    }

    // Every position a scan with criteria gives, several at a call.
    static std::vector<std::uint32_t> scanAll(ScanCriteria* criteria, int room = 2) {
        std::vector<std::uint32_t> found;
        std::vector<std::uint32_t> buffer(std::size_t(room), 0);
        for (int guard = 0; guard < 1000; ++guard) {
            int size = room;
            std::uint32_t next = 0;
            const int status = mdlScanCriteria_scan(criteria, buffer.data(), &size, &next);
            if (status == END_OF_DGNFILE) {
                EXPECT_EQ(size, 0);
                return found;
            }
            EXPECT_EQ(status, BUFF_FULL);
            EXPECT_GE(size, 1);
            found.insert(found.end(), buffer.begin(), buffer.begin() + size);
            EXPECT_EQ(next, found.back() + 1) << "the scan goes on after the last one it gave";
        }
        ADD_FAILURE() << "the scan never ended";
        return found;
    }

    // The ids of the active model's elements at positions.
    static std::vector<int> ids(const std::vector<std::uint32_t>& positions, DgnModelRefP model = nullptr) {
        std::vector<int> out;
        const auto* elements = subhost::elements::elementsOf(model ? model : mdlModelRef_getActive());
        for (std::uint32_t p : positions) out.push_back(elements->at(p).id);
        return out;
    }

    fs::path dir_;
};

struct CriteriaDeleter {
    void operator()(ScanCriteria* c) const { mdlScanCriteria_free(&c); }
};
using Criteria = std::unique_ptr<ScanCriteria, CriteriaDeleter>;

Criteria newCriteria() {
    Criteria c(mdlScanCriteria_create());
    EXPECT_EQ(mdlScanCriteria_setReturnType(c.get(), MSSCANCRIT_RETURN_FILEPOS, 0, 0), SUCCESS);
    return c;
}

DRange3d box(double x0, double y0, double x1, double y1) { return DRange3d{{x0, y0, -1}, {x1, y1, 1}}; }

// ---- Scans ----

TEST_F(Scan, ScansInFileOrderThroughRangeAndViewTests) {
    open({{"views", {json::object(), {{"levelsOff", {5}}}}},
          {"elements",
           {line(7, 0, 0, 1, 1),
            square(3, 10, 10, 2),
            line(9, 20, 0, 21, 0, 5),
            {{"id", 4}, {"type", "arc"}, {"center", {30, 30}}, {"axes", {2, 2}}, {"start", 0}, {"sweep", 90}}}}});
    Criteria all = newCriteria();
    EXPECT_EQ(ids(scanAll(all.get())), (std::vector<int>{7, 3, 9, 4})) << "file order, not id order";

    // The range test takes the element's range: the quarter arc reaches from (30,30) to (32,32) only.
    Criteria ranged = newCriteria();
    ScanRange range;
    const DRange3d r = box(9, 9, 31, 31);
    mdlCnv_dRange3dToScanRange(&range, &r);
    ASSERT_EQ(mdlScanCriteria_setRangeTest(ranged.get(), &range), SUCCESS);
    EXPECT_EQ(ids(scanAll(ranged.get())), (std::vector<int>{3, 4}));
    const DRange3d corner = box(31.9, 31.9, 40, 40);  // beside the arc's box: (32, 0.x) is in, (31.9, 31.9) not
    mdlCnv_dRange3dToScanRange(&range, &corner);
    mdlScanCriteria_setRangeTest(ranged.get(), &range);
    mdlScanCriteria_setModel(ranged.get(), mdlModelRef_getActive());
    EXPECT_EQ(ids(scanAll(ranged.get())), (std::vector<int>{4}));

    // View 1 hides level 5; one element a call.
    Criteria viewed = newCriteria();
    ASSERT_EQ(mdlScanCriteria_setViewTest(viewed.get(), 1, mdlModelRef_getActive()), SUCCESS);
    mdlScanCriteria_setDrawnElements(viewed.get());
    mdlScanCriteria_setReturnType(viewed.get(), MSSCANCRIT_RETURN_FILEPOS, 1, 0);
    EXPECT_EQ(ids(scanAll(viewed.get(), 4)), (std::vector<int>{7, 3, 4}));

    int size = 0;
    std::uint32_t buffer[1];
    EXPECT_EQ(mdlScanCriteria_scan(all.get(), buffer, &size, nullptr), ERROR) << "no room";
}

TEST_F(Scan, ScanRangesAreWholeThousandthsRoundedOutwardAndClamped) {
    ScanRange s{};
    const DRange3d r{{-1.0005, 2.0001, 0}, {3.0001, 1e300, -1e300}};
    mdlCnv_dRange3dToScanRange(&s, &r);
    EXPECT_EQ(s.xlowlim, -1001);
    EXPECT_EQ(s.ylowlim, 2000);
    EXPECT_EQ(s.xhighlim, 3001);
    EXPECT_EQ(s.yhighlim, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(s.zhighlim, std::numeric_limits<std::int64_t>::min());
}

// What the test's scan loop added, and the positions it saw.
struct LoopProbe {
    std::vector<std::uint32_t> seen;
};

TEST_F(Scan, ALoopThatStopsAtTheEndNeverSeesElementsItAdds) {
    open({{"elements", {line(1, 0, 0, 1, 0), line(2, 0, 1, 1, 1), line(3, 0, 2, 1, 2)}}});
    const std::uint32_t end = mdlElement_getFilePos(FILEPOS_EOF, nullptr);
    Criteria c = newCriteria();
    mdlScanCriteria_setReturnType(c.get(), MSSCANCRIT_RETURN_FILEPOS, 1, 0);
    std::vector<std::uint32_t> seen;
    std::uint32_t pos = 0;
    for (int guard = 0; guard < 100; ++guard) {
        int size = 1;
        if (mdlScanCriteria_scan(c.get(), &pos, &size, nullptr) != BUFF_FULL || pos >= end) break;
        seen.push_back(pos);
        // Each visit copies its element to the end of the model.
        MSElementDescr* copy = nullptr;
        ASSERT_NE(mdlElmdscr_readToMaster(&copy, pos, nullptr, 0, nullptr), 0u);
        std::unique_ptr<MSElementDescr> owned(copy);
        const std::uint32_t added = mdlElmdscr_add(copy);
        EXPECT_GE(added, end) << "new elements lie at or beyond the end";
    }
    EXPECT_EQ(ids(seen), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(elementState().elements.size(), 6u);
}

// ---- References ----

class References : public Scan {
protected:
    // The design with two references: a.json (2 elements) at (100, 0) and b.json (1 element) at (0, 50).
    void openWithReferences() {
        write({{"elements", {line(1, 0, 0, 10, 0), square(2, 0, 0, 5)}}}, "a.json");
        write({{"elements", {line(5, 1, 1, 2, 2)}}}, "b.json");
        open({{"elements", {line(1, 0, 0, 1, 1)}},
              {"references", {{{"file", "a.json"}, {"offset", {100, 0}}}, {{"file", "b.json"}, {"offset", {0, 50}}}}}});
        ASSERT_EQ(elementState().references.size(), 2u);
    }
};

TEST_F(References, ModelsIterateRootFirstThenReferencesInOrder) {
    ASSERT_NO_FATAL_FAILURE(openWithReferences());
    ModelRefIterator* it = nullptr;
    ASSERT_EQ(mdlModelRefIterator_create(&it, mdlModelRef_getActive(), MRITERATE_Root | MRITERATE_PrimaryChildRefs, 0),
              SUCCESS);
    std::vector<DgnModelRefP> models;
    while (DgnModelRefP m = mdlModelRefIterator_getNext(it)) models.push_back(m);
    mdlModelRefIterator_free(&it);
    EXPECT_EQ(it, nullptr);
    ASSERT_EQ(models.size(), 3u);
    EXPECT_EQ(models[0], mdlModelRef_getActive());
    EXPECT_EQ(models[1], &elementState().references[0]->model);
    EXPECT_EQ(models[2], &elementState().references[1]->model);
    EXPECT_TRUE(mdlModelRef_isReadOnly(models[1]));

    ASSERT_EQ(mdlModelRefIterator_create(&it, models[1], MRITERATE_Root | MRITERATE_PrimaryChildRefs, 0), SUCCESS);
    EXPECT_EQ(mdlModelRefIterator_getNext(it), models[1]);
    EXPECT_EQ(mdlModelRefIterator_getNext(it), nullptr) << "references of references are not attached";
    mdlModelRefIterator_free(&it);
}

TEST_F(References, ReferenceElementsAreScannedAndReadAtTheirOffsetButNeverChanged) {
    ASSERT_NO_FATAL_FAILURE(openWithReferences());
    DgnModelRefP a = &elementState().references[0]->model;
    Criteria c = newCriteria();
    ASSERT_EQ(mdlScanCriteria_setModel(c.get(), a), SUCCESS);
    const std::vector<std::uint32_t> positions = scanAll(c.get());
    EXPECT_EQ(positions, (std::vector<std::uint32_t>{1, 2})) << "a reference numbers its own positions from 1";
    EXPECT_EQ(ids(positions, a), (std::vector<int>{1, 2}));

    // The range test sees the reference where it is drawn: at the offset.
    ScanRange range;
    const DRange3d there = box(99, -1, 101, 1);
    mdlCnv_dRange3dToScanRange(&range, &there);
    mdlScanCriteria_setRangeTest(c.get(), &range);
    mdlScanCriteria_setModel(c.get(), a);
    EXPECT_EQ(scanAll(c.get()).size(), 2u);

    MSElementDescr* read = nullptr;
    ASSERT_EQ(mdlElmdscr_readToMaster(&read, 1, a, 0, nullptr), 1u);
    std::unique_ptr<MSElementDescr> owned(read);
    EXPECT_DOUBLE_EQ(read->points[0].x, 100);
    EXPECT_DOUBLE_EQ(read->points[1].x, 110);

    // Deleting or modifying through the reference fails; the active model's one element is at position 1.
    EXPECT_EQ(mdlElmdscr_undoableDelete(read, 2, 1), ERROR);
    EXPECT_EQ(mdlElmdscr_undoableDelete(read, 1, 1), ERROR)
        << "a reference's element never deletes the active model's element at the same position";
    EXPECT_EQ(mdlModify_elementSingle(
                  a, 1, MODIFY_REPLACE, 0, [](MSElement*) { return 1; }, nullptr, 0),
              ERROR);
    EXPECT_EQ(mdlModify_elementSingle(
                  a, 1, MODIFY_COPY, 0, [](MSElement*) { return 1; }, nullptr, 0),
              ERROR);
    EXPECT_EQ(elementState().references[0]->elements.size(), 2u);
    EXPECT_EQ(elementState().references[0]->elements.at(1).shape.points[0].x, 100);
    EXPECT_EQ(elementState().elements.size(), 1u);
}

TEST_F(References, BadReferencesAreRefusedWithTheirFileNamed) {
    const auto refuses = [&](const json& refs, const std::string& file, const std::string& why) {
        const std::string error = refusal({{"references", refs}});
        EXPECT_NE(error.find(file), std::string::npos) << error;
        EXPECT_NE(error.find(why), std::string::npos) << error;
    };
    refuses({{{"file", "gone.json"}}}, "gone.json", "file not found");
    std::ofstream(dir_ / "broken.json") << "{\"elements\": [";
    refuses({{{"file", "broken.json"}}}, "broken.json", "not valid JSON");
    write({{"elements", {{{"id", 1}, {"type", "line"}, {"points", {{0, 0}}}}}}}, "bad.json");
    refuses({{{"file", "bad.json"}}}, "bad.json", "element 0");
    refuses({{{"file", "design.json"}}}, "design.json", "the design itself");
    write({{"references", {{{"file", "design.json"}}}}}, "loop.json");
    refuses({{{"file", "loop.json"}}}, "loop.json", "loop");
    write(json::object(), "ok.json");
    refuses(json::array({{{"file", "ok.json"}, {"offset", {1}}}}), "reference 0", "offset");
    refuses(json(std::vector<json>(101, {{"file", "ok.json"}})), "references", "at most 100");

    // 100 000 elements in all: the design's own and every reference's count together.
    json many = json::array();
    for (int i = 1; i <= 60000; ++i) many.push_back(line(i, 0, 0, 1, 1));
    write({{"elements", many}}, "many.json");
    refuses({{{"file", "many.json"}}, {{"file", "many.json"}}}, "many.json", "too many elements");
    EXPECT_FALSE(mdlModelRef_getActive()) << "nothing opened";

    // A reference of a reference is not followed: b.json's own reference to a missing file is no error.
    write({{"references", {{{"file", "nowhere.json"}}}}, {"elements", {line(1, 0, 0, 1, 1)}}}, "b.json");
    open({{"references", {{{"file", "b.json"}}}}});
    ASSERT_EQ(elementState().references.size(), 1u);
    EXPECT_EQ(elementState().references[0]->elements.size(), 1u);
}

// ---- Selection and fence ----

TEST_F(Scan, SelectionPositionsLeaveOutDeletedElementsAndFreeAll) {
    open({{"elements", {line(4, 0, 0, 1, 1), line(8, 0, 0, 2, 2), line(6, 0, 0, 3, 3)}}, {"selection", {6, 4, 8}}});
    const auto positions = [](std::vector<std::uint32_t>* out, DgnModelRefP* model) {
        std::uint32_t* pos = nullptr;
        DgnModelRefP* models = nullptr;
        int count = -1;
        ASSERT_EQ(mdlSelect_returnPositions(&pos, &models, &count), SUCCESS);
        out->assign(pos, pos + count);
        if (count) *model = models[count - 1];
        for (int i = 0; i < count; ++i) EXPECT_EQ(models[i], mdlModelRef_getActive());
        dlmSystem_mdlFree(pos);
        dlmSystem_mdlFree(models);
    };
    std::vector<std::uint32_t> got;
    DgnModelRefP model = nullptr;
    positions(&got, &model);
    EXPECT_EQ(ids(got), (std::vector<int>{6, 4, 8}));
    ASSERT_EQ(mdlElmdscr_undoableDelete(nullptr, got[1], 0), SUCCESS);
    positions(&got, &model);
    EXPECT_EQ(ids(got), (std::vector<int>{6, 8})) << "the deleted element is left out";

    mdlSelect_freeAll();
    EXPECT_FALSE(mdlSelect_isActive());
    positions(&got, &model);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(subhost::transcript().back(),
              (json{{"event", "selection"}, {"action", "cleared"}, {"ids", json::array()}}));
}

TEST_F(Scan, FenceSavedToAnElementComesBackWithItsView) {
    open(json::object());
    std::string error;
    ASSERT_TRUE(subhost::elements::setFence({{0, 0, 0}, {8, 0, 0}, {8, 6, 0}, {4, 3, 0}, {0, 6, 0}}, 3, &error));
    TerminalControlBlock* tcb = mdlSystem_getTcb();
    EXPECT_EQ(tcb->fence, 5);
    EXPECT_EQ(tcb->fenvw, 3);
    MSElementDescr* saved = nullptr;
    ASSERT_EQ(mdlFence_toElement(&saved), SUCCESS);
    std::unique_ptr<MSElementDescr> owned(saved);
    const int view = tcb->fenvw;

    mdlFence_clear(true);
    EXPECT_EQ(mdlSystem_getTcb()->fence, 0);
    ASSERT_TRUE(subhost::elements::setFence({{50, 50, 0}, {60, 50, 0}, {60, 60, 0}}, 1, &error));
    ASSERT_EQ(mdlFence_fromElement(saved, view), SUCCESS);
    const std::vector<DPoint3d> corners{{0, 0, 0}, {8, 0, 0}, {8, 6, 0}, {4, 3, 0}, {0, 6, 0}};
    ASSERT_EQ(elementState().fence->size(), corners.size()) << "the corners once";
    for (std::size_t i = 0; i < corners.size(); ++i) {
        EXPECT_EQ((*elementState().fence)[i].x, corners[i].x);
        EXPECT_EQ((*elementState().fence)[i].y, corners[i].y);
    }
    EXPECT_EQ(mdlFence_getView(), 3);

    // The application sets the view back through the control block.
    mdlSystem_getTcb()->fenvw = 5;
    EXPECT_EQ(mdlFence_getView(), 5);
    EXPECT_EQ(mdlSystem_getTcb()->fenvw, 5);
    MSElementDescr line{};
    line.type = LINE_ELM;
    line.points = {{0, 0, 0}, {1, 1, 0}};
    EXPECT_EQ(mdlFence_fromElement(&line, 0), ERROR) << "not a closed shape";
    EXPECT_EQ(mdlFence_fromElement(saved, 9), ERROR) << "no view 9";
}

// ---- Session lines ----

TEST_F(Scan, SessionSelectsByIdAndDumpsExpansions) {
    write({{"elements", {line(3, 0, 0, 1, 1), square(5, 0, 0, 2)}}}, "d.json");
    const auto run = [&](const std::string& script, std::vector<json>* events) {
        std::ofstream(dir_ / "s.session") << script;
        std::ostringstream out, err;
        subhost::SessionOptions options;
        const int code = subhost::runSession((dir_ / "s.session").string(), options, out, err);
        std::istringstream lines(out.str());
        events->clear();
        for (std::string l; std::getline(lines, l);) events->push_back(json::parse(l));
        return code;
    };
    std::vector<json> events;
    ASSERT_EQ(run("design d.json\nselect 5 3\ndump expanded 5\nselect clear\n", &events), 0);
    std::vector<json> picked;
    for (const json& e : events)
        if (e["event"] == "selection" || e["event"] == "expanded") picked.push_back(e);
    ASSERT_EQ(picked.size(), 3u);
    EXPECT_EQ(picked[0]["ids"], json({5, 3}));
    EXPECT_EQ(picked[1]["id"], 5);
    ASSERT_EQ(picked[1]["elements"].size(), 1u);
    EXPECT_EQ(picked[1]["elements"][0]["type"], "shape");
    EXPECT_EQ(picked[2]["action"], "cleared");

    EXPECT_EQ(run("design d.json\nselect 3 4\n", &events), 2);
    EXPECT_EQ(events.back()["event"], "error");
    EXPECT_EQ(events.back()["line"], 2);
    EXPECT_NE(events.back()["message"].get<std::string>().find("no element with id 4"), std::string::npos);
    EXPECT_EQ(run("design d.json\ndump expanded 9\n", &events), 2);
    EXPECT_NE(events.back()["message"].get<std::string>().find("id 9"), std::string::npos);
    EXPECT_EQ(run("select x\n", &events), 2);
    EXPECT_NE(events.back()["message"].get<std::string>().find("element id"), std::string::npos);
}

}  // namespace
