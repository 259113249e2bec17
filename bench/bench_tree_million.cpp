// The lazy tree at a million nodes beside two QTreeView peers in the same
// run: one over a QStandardItemModel, one over a minimal model that keeps
// only text numbers and makes its texts on demand. Both views use uniform
// 18-pixel rows, as the tree does. Two shapes: 100 roots of 10,000 children,
// and 1,000,000 roots. Each operation runs on its own fresh tree: build by
// adding node after node, collapse all, sort all levels, expand all after
// the sort, the node at a position, painting an 800 x 600 viewport, clearing
// the sorted expanded tree, and the heap bytes per expanded node.

#include "platform/EventLoop.h"
#include "platform/gui/WindowHost.h"
#include "treeview/LazyTrees.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <malloc.h>
#include <random>
#include <utility>

using namespace nuq;

namespace {

constexpr int Width = 800, Height = 600, RowHeight = 18;
constexpr size_t Probes = 1 << 14;

struct TShape {
    int Roots, Children;
    size_t Nodes() const { return size_t(Roots) * size_t(Children + 1); }
};

// The same texts for every subject, numbered in build order.
const std::vector<std::u16string>& Texts() {
    static std::vector<std::u16string> texts = [] {
        std::mt19937 random(42);
        std::vector<std::u16string> t(1000100);
        for (auto& s : t) {
            s.assign(8, u'a');
            for (auto& c : s) c = char16_t(u'a' + random() % 26);
        }
        return t;
    }();
    return texts;
}

QString QText(uint32_t number) {
    const auto& t = Texts()[number];
    return QString::fromUtf16(t.data(), qsizetype(t.size()));
}

std::vector<int> Positions() {
    std::mt19937 random(3);
    std::vector<int> ys(Probes);
    for (int& y : ys) y = int(random() % Height);
    return ys;
}

size_t HeapInUse() {
    struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd; // large blocks are mapped apart
}

// --- the subjects ------------------------------------------------------------------------

class TSubject {
public:
    virtual ~TSubject() = default;
    virtual void Build(TShape shape) = 0;
    virtual void ExpandAll() = 0;
    virtual void CollapseAll() = 0;
    virtual void SortAll() = 0;
    virtual void ScrollToMiddle() = 0;
    virtual void NodeAt(int y) = 0;
    virtual void Paint() = 0;
    virtual void Clear() = 0;
};

class TTreeSubject : public TSubject {
public:
    TTreeSubject() {
        InitializeGlobalStructures();
        FTree = NewComponent<TLazyStringTree>();
        FTree->SetBounds(0, 0, Width, Height);
        FTree->SetDefaultNodeHeight(RowHeight);
        FTree->SetNodeDataSize(4);
        FTree->Handle();
        FTree->OnGetText = [](TBaseLazyTree& t, PLazyNode n, TColumnIndex, int,
                              std::u16string& text) { text = Texts()[Number(t, n)]; };
        FTree->OnCompareNodes = [](TBaseLazyTree& t, PLazyNode a, PLazyNode b, TColumnIndex,
                                   int& result) {
            result = Texts()[Number(t, a)].compare(Texts()[Number(t, b)]);
        };
    }
    void Build(TShape shape) override {
        uint32_t number = 0;
        FTree->BeginUpdate();
        for (int r = 0; r < shape.Roots; ++r) {
            PLazyNode root = FTree->AddChild(nullptr);
            Number(*FTree, root) = number++;
            for (int c = 0; c < shape.Children; ++c)
                Number(*FTree, FTree->AddChild(root)) = number++;
        }
        FTree->EndUpdate();
    }
    void ExpandAll() override { FTree->FullExpand(); }
    void CollapseAll() override { FTree->FullCollapse(); }
    void SortAll() override { FTree->SortTree(NoColumn, sdAscending, false); }
    void ScrollToMiddle() override {
        FTree->SetOffsetY(-int(FTree->RootNode()->TotalHeight / 2));
        FTree->ValidateCache();
        ProcessMessagesUntil([&] { return FTree->HasState(tsUseCache); }, 60000);
        FTarget = std::make_unique<TBitmap>(Width, Height);
    }
    void NodeAt(int y) override { benchmark::DoNotOptimize(FTree->GetNodeAt(0, y)); }
    void Paint() override {
        TRect window = FTree->ClientRect().Offset(-FTree->OffsetX(), -FTree->OffsetY());
        FTree->PaintTree(FTarget->Canvas(), window, {0, 0});
    }
    void Clear() override { FTree->Clear(); }

private:
    static uint32_t& Number(TBaseLazyTree& t, PLazyNode n) {
        return *static_cast<uint32_t*>(t.GetNodeData(n));
    }
    std::unique_ptr<TLazyStringTree> FTree;
    std::unique_ptr<TBitmap> FTarget;
};

class TRowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), RowHeight};
    }
};

// A view of Model, made before the model fills, as the tree's window is.
class TViewSubject : public TSubject {
public:
    void ExpandAll() override { FView->expandAll(); }
    void CollapseAll() override { FView->collapseAll(); }
    void SortAll() override { FModel->sort(0); }
    void ScrollToMiddle() override {
        FView->verticalScrollBar()->setValue(FView->verticalScrollBar()->maximum() / 2);
        QApplication::processEvents();
    }
    void NodeAt(int y) override { benchmark::DoNotOptimize(FView->indexAt(QPoint(5, y))); }
    void Paint() override { FView->viewport()->render(&FImage); }

protected:
    void Attach(QAbstractItemModel* model) {
        FModel = model;
        FView->setItemDelegate(&FDelegate);
        FView->setUniformRowHeights(true);
        FView->setModel(model);
        FView->resize(Width, Height);
        FView->show();
        QApplication::processEvents();
    }
    ~TViewSubject() override { FView.reset(); }

    QAbstractItemModel* FModel = nullptr;
    TRowDelegate FDelegate;
    std::unique_ptr<QTreeView> FView = std::make_unique<QTreeView>();
    QImage FImage{Width, Height, QImage::Format_ARGB32_Premultiplied};
};

class TStandardSubject : public TViewSubject {
public:
    TStandardSubject() { Attach(&FStandard); }
    void Build(TShape shape) override {
        uint32_t number = 0;
        QStandardItem* top = FStandard.invisibleRootItem();
        for (int r = 0; r < shape.Roots; ++r) {
            auto* root = new QStandardItem(QText(number++)); // the model owns its items
            for (int c = 0; c < shape.Children; ++c)
                root->appendRow(new QStandardItem(QText(number++)));
            top->appendRow(root);
        }
    }
    void Clear() override { FStandard.clear(); }
    ~TStandardSubject() override { FView.reset(); }

private:
    QStandardItemModel FStandard;
};

// Two levels of text numbers; the internal id of a child is the address of its
// root's row of children (well spread for the view's hashes), 0 for a root.
class TLazyModel : public QAbstractItemModel {
public:
    std::vector<uint32_t> Roots;
    std::vector<std::vector<uint32_t>> Children;

    using QAbstractItemModel::beginInsertRows;
    using QAbstractItemModel::beginResetModel;
    using QAbstractItemModel::endInsertRows;
    using QAbstractItemModel::endResetModel;

    QModelIndex index(int row, int column, const QModelIndex& parent) const override {
        if (column != 0 || row < 0) return {};
        if (!parent.isValid())
            return size_t(row) < Roots.size() ? createIndex(row, 0, quintptr(0)) : QModelIndex();
        if (parent.internalId() != 0 || size_t(row) >= Children[size_t(parent.row())].size())
            return {};
        return createIndex(row, 0, IdOf(size_t(parent.row())));
    }
    QModelIndex parent(const QModelIndex& child) const override {
        if (!child.isValid() || child.internalId() == 0) return {};
        return createIndex(int(RootOf(child.internalId(), Children.data())), 0, quintptr(0));
    }
    int rowCount(const QModelIndex& parent) const override {
        if (!parent.isValid()) return int(Roots.size());
        return parent.internalId() == 0 ? int(Children[size_t(parent.row())].size()) : 0;
    }
    int columnCount(const QModelIndex&) const override { return 1; }
    bool hasChildren(const QModelIndex& parent) const override { return rowCount(parent) > 0; }
    // Leaves say so, which spares the view looking into them.
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        Qt::ItemFlags flags = QAbstractItemModel::flags(index);
        if (index.isValid() &&
            (index.internalId() != 0 || Children.empty() || Children[size_t(index.row())].empty()))
            flags |= Qt::ItemNeverHasChildren;
        return flags;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        return QText(Number(index));
    }
    uint32_t Number(const QModelIndex& index) const {
        return index.internalId() == 0
                   ? Roots[size_t(index.row())]
                   : Children[RootOf(index.internalId(), Children.data())][size_t(index.row())];
    }
    quintptr IdOf(size_t root) const { return quintptr(&Children[root]); }
    static size_t RootOf(quintptr id, const std::vector<uint32_t>* rows) {
        return (id - quintptr(rows)) / sizeof *rows;
    }
    void sort(int, Qt::SortOrder) override {
        emit layoutAboutToBeChanged();
        // Each level's rows by text; a root's children move with it.
        auto sorted = [](const std::vector<uint32_t>& numbers) {
            std::vector<uint32_t> order(numbers.size());
            for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
            std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
                return Texts()[numbers[a]] < Texts()[numbers[b]];
            });
            return order;
        };
        auto inverse = [](const std::vector<uint32_t>& order) {
            std::vector<uint32_t> rows(order.size());
            for (uint32_t i = 0; i < order.size(); ++i) rows[order[i]] = i;
            return rows;
        };
        std::vector<uint32_t> order = sorted(Roots), rootRows = inverse(order);
        std::vector<uint32_t> roots(order.size());
        std::vector<std::vector<uint32_t>> children(order.size()), childRows(order.size());
        for (size_t i = 0; i < order.size(); ++i) {
            roots[i] = Roots[order[i]];
            const auto& old = Children[order[i]];
            std::vector<uint32_t> childOrder = sorted(old);
            children[i].resize(old.size());
            for (size_t c = 0; c < old.size(); ++c) children[i][c] = old[childOrder[c]];
            childRows[i] = inverse(childOrder);
        }
        const std::vector<uint32_t>* oldRows = Children.data();
        std::vector<std::vector<uint32_t>> oldChildren =
            std::exchange(Children, std::move(children));
        Roots = std::move(roots);
        // The view's expanded rows and current item follow their nodes.
        const QModelIndexList from = persistentIndexList();
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& i : from) {
            if (i.internalId() == 0) {
                to.append(createIndex(int(rootRows[size_t(i.row())]), 0, quintptr(0)));
            } else {
                uint32_t root = rootRows[RootOf(i.internalId(), oldRows)];
                to.append(createIndex(int(childRows[root][size_t(i.row())]), 0, IdOf(root)));
            }
        }
        changePersistentIndexList(from, to);
        emit layoutChanged();
    }
};

class TLazyModelSubject : public TViewSubject {
public:
    TLazyModelSubject() { Attach(&FLazy); }
    void Build(TShape shape) override {
        uint32_t number = 0;
        FLazy.beginInsertRows({}, 0, shape.Roots - 1);
        FLazy.Roots.reserve(size_t(shape.Roots));
        FLazy.Children.resize(size_t(shape.Roots));
        for (int r = 0; r < shape.Roots; ++r) {
            FLazy.Roots.push_back(number++);
            auto& children = FLazy.Children[size_t(r)];
            children.reserve(size_t(shape.Children));
            for (int c = 0; c < shape.Children; ++c) children.push_back(number++);
        }
        FLazy.endInsertRows();
    }
    void Clear() override {
        FLazy.beginResetModel();
        FLazy.Roots = {};
        FLazy.Children = {};
        FLazy.endResetModel();
    }
    ~TLazyModelSubject() override { FView.reset(); }

private:
    TLazyModel FLazy;
};

// --- the operations -------------------------------------------------------------------------

enum TOperation { opBuild, opCollapse, opSort, opExpandAfterSort, opNodeAt, opPaint, opClear };

template <class S> void Run(benchmark::State& state, TShape shape, TOperation op) {
    for (auto _ : state) {
        state.PauseTiming();
        auto subject = std::make_unique<S>();
        if (op != opBuild) subject->Build(shape);
        if (op == opCollapse) subject->ExpandAll();
        if (op == opExpandAfterSort || op == opNodeAt || op == opPaint || op == opClear)
            subject->SortAll();
        if (op == opNodeAt || op == opPaint || op == opClear) subject->ExpandAll();
        if (op == opNodeAt || op == opPaint) subject->ScrollToMiddle();
        state.ResumeTiming();
        switch (op) {
        case opBuild:
            subject->Build(shape);
            break;
        case opCollapse:
            subject->CollapseAll();
            break;
        case opSort:
            subject->SortAll();
            break;
        case opExpandAfterSort:
            subject->ExpandAll();
            break;
        case opClear:
            subject->Clear();
            break;
        case opNodeAt: {
            // Many probes on the one tree: per probe, like the paint below.
            std::vector<int> ys = Positions();
            for (size_t i = 0; i < Probes; ++i) subject->NodeAt(ys[i]);
            break;
        }
        case opPaint:
            for (int i = 0; i < 20; ++i) subject->Paint();
            break;
        }
        state.PauseTiming();
        subject.reset();
        state.ResumeTiming();
    }
    if (op == opNodeAt)
        state.counters["ns_per_probe"] =
            benchmark::Counter(double(Probes) * double(state.iterations()),
                               benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    if (op == opPaint)
        state.counters["ms_per_paint"] =
            benchmark::Counter(20.0 * double(state.iterations()),
                               benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// Heap bytes of the built, expanded tree per node.
template <class S> void Memory(benchmark::State& state, TShape shape) {
    double perNode = 0;
    for (auto _ : state) {
        auto subject = std::make_unique<S>();
        size_t before = HeapInUse();
        subject->Build(shape);
        subject->ExpandAll();
        perNode = double(HeapInUse() - before) / double(shape.Nodes());
        state.PauseTiming();
        subject.reset();
        state.ResumeTiming();
    }
    state.counters["bytes_per_node"] = perNode;
}

const char* const OperationNames[] = {"Build",  "CollapseAll", "SortAll",    "ExpandAfterSort",
                                      "NodeAt", "Paint",       "ClearSorted"};

template <class S> void Register(int op, const char* shapeName, const char* subject, TShape shape) {
    std::string name =
        std::string(op < 0 ? "Memory" : OperationNames[op]) + "/" + shapeName + "/" + subject;
    if (op < 0) {
        benchmark::RegisterBenchmark(name.c_str(),
                                     [shape](benchmark::State& s) { Memory<S>(s, shape); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
        return;
    }
    benchmark::RegisterBenchmark(
        name.c_str(), [shape, op](benchmark::State& s) { Run<S>(s, shape, TOperation(op)); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    InitGuiApplication(argc, argv);
    // The subjects side by side on each operation, -1 being the memory count.
    for (auto [shapeName, shape] :
         {std::pair{"100x10000", TShape{100, 10000}}, std::pair{"1000000flat", TShape{1000000, 0}}})
        for (int op = -1; op <= opClear; ++op) {
            Register<TTreeSubject>(op, shapeName, "LazyTree", shape);
            Register<TLazyModelSubject>(op, shapeName, "QtLazyModel", shape);
            Register<TStandardSubject>(op, shapeName, "QtStandardModel", shape);
        }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
