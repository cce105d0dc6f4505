// tests/ui/TestMrmx3View.cpp
#include <QAbstractItemModel>
#include <QAccessible>
#include <QImage>
#include <QModelIndex>
#include <QPainter>
#include <QSignalSpy>
#include <QSvgRenderer>
#include <QTest>
#include <QTreeWidgetItem>
#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/Fakes.h"
#include "core/PeerFakes.h"
#include "core/net/Packet.h"
#include "core/peers/PeerNetwork.h"
#include "core/res/Strings.h"
#include "widgets/peers/Mrmx3View.h"

namespace {

// A tree and the network that drives it, made fresh for every test. The
// network is never started: the tests hand it datagrams themselves.
struct Harness {
    Harness() {
        state.Modify([](SettingsRecord& s) {
            s.userName = "jana";
            s.groupName = "Sklad";
        });
        state.SetHostComputerName("PC7");
        view = std::make_unique<CMrmx3View>(CMrmx3View::Services{
            .state = state, .presenter = presenter, .openConversation = [this](int index) {
                network->OpenConversation(index);
            }});
        network = std::make_unique<PeerNetwork>(PeerNetwork::Services{.state = state,
                                                                      .presenter = presenter,
                                                                      .poster = poster,
                                                                      .tree = *view,
                                                                      .notifications = sink,
                                                                      .sounds = sounds,
                                                                      .conversations = factory,
                                                                      .clock = clock,
                                                                      .wait = wait});
    }
    ~Harness() {
        network.reset();
        view.reset();
    }

    FakeClock clock;
    AppState state;
    RecordingPresenter presenter;
    QueuePoster poster;
    RecordingSink sink;
    RecordingPlayer player;
    SoundEvents sounds{state, clock, player};
    FakeConversationFactory factory{state};
    RealStopWait wait;
    std::unique_ptr<CMrmx3View> view;
    std::unique_ptr<PeerNetwork> network;
};

QStringList ChildTexts(const QTreeWidgetItem* parent) {
    QStringList texts;
    for (int i = 0; i < parent->childCount(); ++i) {
        texts << parent->child(i)->text(0);
    }
    return texts;
}

int Image(const QTreeWidgetItem* item) {
    return item->data(0, CMrmx3View::kImageRole).toInt();
}

quint32 Data(const QTreeWidgetItem* item) {
    return item->data(0, CMrmx3View::kItemDataRole).value<quint32>();
}

// The picture file drawn the way a sharp icon of that size must look.
QImage RenderFile(const QString& file, int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(file));
    renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    return image;
}

QImage Picture(const QIcon& icon, int pixels) {
    return icon.pixmap(QSize(pixels, pixels))
        .toImage()
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

}  // namespace

class TestMrmx3View : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void groupsAndPeersStandInOrderOfArrival();
    void groupIsFoundByItsFirst48BytesExactly();
    void changedNameOrGroupRemakesOnlyThatItemLast();
    void imagesFollowStatusMessageAndBell();
    void unchangedItemsAreNotTouchedAndRowsShareOneHeight();
    void iconSetsShowTheirPicturesAtTheChosenSize();
    void loadIconsRepaintsExistingItemsWithoutRemakingThem();
    void invalidIconSettingsLeaveTheTreeWithoutPictures();
    void doubleClickOpensOnlyTheCurrentPeer();
    void mouseDoubleClickTogglesGroupsAndOpensPeers();
    void choosingGroupCollapsesOnlyTheOneChosenBefore();
    void remadeItemKeepsTheSelectionAndTheGroups();
    void groupsWithoutPeersGoAndComeBackThroughTheIndex();
    void enterOpensTheCurrentPeerAndTheTreeIsNamed();
    void accessibleRowsAreMadeOnceAndGoWithTheirItems();
    void aBatchsItemsGoUnderTheirGroupsTogetherAtItsEnd();
    void inALargeTreeABatchsItemsWaitForMoreAtMostAWhile();

private:
    CMrmx3View& View() { return *m_h->view; }
    void Dispatch(const std::string& sender, const PacketBuffer& packet) {
        const int16_t length = PacketLength(packet, m_h->presenter);
        m_h->network->Dispatch().DispatchDatagram(packet.data(), static_cast<size_t>(length),
                                                  Ip(sender));
    }
    void Announce(const std::string& sender, int16_t status, const std::string& user,
                  const std::string& group) {
        PacketBuffer packet;
        BuildPresence(packet, status, user, "PC", group);
        Dispatch(sender, packet);
    }
    void Message(const std::string& sender, const std::string& text) {
        PacketBuffer packet;
        BuildText(packet, text);
        Dispatch(sender, packet);
    }
    void Ring(const std::string& sender) {
        PacketBuffer packet;
        BuildBell(packet);
        Dispatch(sender, packet);
    }
    QTreeWidgetItem* PeerItem(int index) {
        return static_cast<QTreeWidgetItem*>(m_h->network->Directory().PeerAt(index).treeItem);
    }
    QTreeWidgetItem* Group(const QString& text) {
        const auto found = View().findItems(text, Qt::MatchExactly);
        for (QTreeWidgetItem* item : found) {
            if (item->parent() == nullptr) {
                return item;
            }
        }
        return nullptr;
    }
    // Down, up, double-click, up: what the desktop delivers.
    void DoubleClick(QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
        QWidget* viewport = View().viewport();
        QTest::mousePress(viewport, button, {}, pos);
        QTest::mouseRelease(viewport, button, {}, pos);
        QTest::mouseDClick(viewport, button, {}, pos);
        QTest::mouseRelease(viewport, button, {}, pos);
    }
    QStringList GroupTexts() { return ChildTexts(View().invisibleRootItem()); }
    // Every item shows the picture of its stored image index.
    void VerifyItemPictures() {
        for (QTreeWidgetItemIterator it(&View()); *it != nullptr; ++it) {
            QCOMPARE((*it)->icon(0).cacheKey(), View().IconAt(Image(*it)).cacheKey());
        }
    }

    std::unique_ptr<Harness> m_h;
};

void TestMrmx3View::init() {
    m_h = std::make_unique<Harness>();
}

void TestMrmx3View::cleanup() {
    m_h.reset();
}

void TestMrmx3View::groupsAndPeersStandInOrderOfArrival() {
    CMrmx3View& view = View();
    view.LoadIcons();
    QCOMPARE(view.objectName(), QStringLiteral("userTree"));
    QVERIFY(view.isHeaderHidden());
    QVERIFY(!view.rootIsDecorated());
    QVERIFY(!view.isSortingEnabled());
    QCOMPARE(view.selectionMode(), QAbstractItemView::SingleSelection);

    Announce("10.0.0.3", Ready, "zdenek", "Sklad");
    Announce("10.0.0.1", Away, "adam", "Kancl");
    Announce("10.0.0.2", Ready, "bara", "Sklad");
    Announce("10.0.0.4", Ready, "cyril", "\xDA\xE8t\xE1rna");  // "Účtárna"

    QCOMPARE(GroupTexts(), (QStringList{"Sklad", "Kancl", QString::fromUtf8("Účtárna")}));
    QCOMPARE(ChildTexts(Group("Sklad")), (QStringList{"zdenek@PC", "bara@PC"}));
    QCOMPARE(ChildTexts(Group("Kancl")), (QStringList{"adam@PC"}));
    QCOMPARE(ChildTexts(Group(QString::fromUtf8("Účtárna"))), (QStringList{"cyril@PC"}));

    for (int i = 0; i < view.topLevelItemCount(); ++i) {
        const QTreeWidgetItem* group = view.topLevelItem(i);
        QCOMPARE(Data(group), 0xFFFFFFFFu);
        QCOMPARE(Image(group), 7);
        QVERIFY(group->isExpanded());
        QCOMPARE(group->data(0, Qt::AccessibleTextRole).toString(), group->text(0));
    }
    for (int index = 0; index < 4; ++index) {
        const QTreeWidgetItem* item = PeerItem(index);
        QVERIFY(item != nullptr);
        QCOMPARE(Data(item), static_cast<quint32>(index));
        // The announced status arrives with the next announcement.
        QCOMPARE(Image(item), 0);
        QCOMPARE(item->data(0, Qt::AccessibleTextRole).toString(), item->text(0));
    }
    QCOMPARE(PeerItem(1)->text(0), QStringLiteral("adam@PC"));
    QCOMPARE(PeerItem(2)->parent(), Group("Sklad"));
    VerifyItemPictures();

    // A repeated announcement changes nothing in the tree.
    const QTreeWidgetItem* before = PeerItem(0);
    Announce("10.0.0.3", Ready, "zdenek", "Sklad");
    QCOMPARE(PeerItem(0), before);
    QCOMPARE(ChildTexts(Group("Sklad")), (QStringList{"zdenek@PC", "bara@PC"}));
}

void TestMrmx3View::groupIsFoundByItsFirst48BytesExactly() {
    CMrmx3View& view = View();
    const std::string head(48, 'g');
    const TreeItem first = view.FindOrAddGroupItem(head + "AAAA");
    QCOMPARE(view.FindOrAddGroupItem(head + "BBBB"), first);
    QCOMPARE(view.FindOrAddGroupItem(head), first);
    // Case and the last of the 48 bytes count.
    QVERIFY(view.FindOrAddGroupItem(std::string(47, 'g') + "G") != first);

    // A byte without a character still finds its own group again.
    const std::string odd = "Sklad \x81";
    const TreeItem oddGroup = view.FindOrAddGroupItem(odd);
    QCOMPARE(view.FindOrAddGroupItem(odd), oddGroup);
    QVERIFY(view.FindOrAddGroupItem("Sklad ?") != oddGroup);
    QCOMPARE(view.topLevelItemCount(), 4);
}

void TestMrmx3View::changedNameOrGroupRemakesOnlyThatItemLast() {
    CMrmx3View& view = View();
    view.LoadIcons();
    Announce("10.0.0.1", Ready, "adam", "Sklad");
    Announce("10.0.0.2", Ready, "bara", "Sklad");
    Announce("10.0.0.3", Ready, "cyril", "Sklad");
    Announce("10.0.0.4", Ready, "dana", "Solo");
    QTreeWidgetItem* bara = PeerItem(1);
    QTreeWidgetItem* cyril = PeerItem(2);

    Announce("10.0.0.1", Ready, "adela", "Sklad");
    QCOMPARE(ChildTexts(Group("Sklad")), (QStringList{"bara@PC", "cyril@PC", "adela@PC"}));
    QCOMPARE(PeerItem(1), bara);
    QCOMPARE(PeerItem(2), cyril);
    QCOMPARE(Data(PeerItem(0)), 0u);
    QCOMPARE(PeerItem(0)->data(0, Qt::AccessibleTextRole).toString(), QStringLiteral("adela@PC"));

    Announce("10.0.0.2", Ready, "bara", "Kancl");
    QCOMPARE(GroupTexts(), (QStringList{"Sklad", "Solo", "Kancl"}));
    QCOMPARE(ChildTexts(Group("Sklad")), (QStringList{"cyril@PC", "adela@PC"}));
    QCOMPARE(ChildTexts(Group("Kancl")), (QStringList{"bara@PC"}));
    QCOMPARE(Data(PeerItem(1)), 1u);

    // The last peer of a group leaves it: the group goes.
    Announce("10.0.0.4", Ready, "dana", "Kancl");
    QCOMPARE(GroupTexts(), (QStringList{"Sklad", "Kancl"}));
    QCOMPARE(ChildTexts(Group("Kancl")), (QStringList{"bara@PC", "dana@PC"}));
    QCOMPARE(Image(PeerItem(3)), 0);

    // The re-made item still opens its own peer.
    view.setCurrentItem(PeerItem(1));
    view.OnDoubleClick();
    QCOMPARE(m_h->factory.created.size(), size_t{1});
    QCOMPARE(m_h->factory.created[0]->PeerIndex(), 1);
    VerifyItemPictures();
}

void TestMrmx3View::imagesFollowStatusMessageAndBell() {
    CMrmx3View& view = View();
    view.LoadIcons();
    Announce("10.0.0.1", DoNotDisturb, "adam", "Sklad");
    QCOMPARE(Image(PeerItem(0)), 0);

    const std::array<int16_t, 5> statuses = {Away, DoNotDisturb, AtLunch, Disconnected, Ready};
    for (const int16_t status : statuses) {
        Announce("10.0.0.1", status, "adam", "Sklad");
        QCOMPARE(Image(PeerItem(0)), int{status});
    }
    Message("10.0.0.1", "ahoj");
    QCOMPARE(Image(PeerItem(0)), 5);
    Ring("10.0.0.1");
    QCOMPARE(Image(PeerItem(0)), 6);
    // A name change re-makes the item with the status picture.
    Announce("10.0.0.1", Away, "adam2", "Sklad");
    QCOMPARE(Image(PeerItem(0)), 1);
    QCOMPARE(Image(Group("Sklad")), 7);
    VerifyItemPictures();

    // Eight different pictures.
    for (int image = 0; image < 8; ++image) {
        QVERIFY(!view.IconAt(image).isNull());
        for (int other = 0; other < image; ++other) {
            QVERIFY(Picture(view.IconAt(image), 48) != Picture(view.IconAt(other), 48));
        }
    }
    QVERIFY(view.IconAt(8).isNull());
    QVERIFY(view.IconAt(-1).isNull());
}

// Setting what an item already shows changes nothing in the model, so the
// tree lays nothing out again; rows have one height.
void TestMrmx3View::unchangedItemsAreNotTouchedAndRowsShareOneHeight() {
    CMrmx3View& view = View();
    QVERIFY(view.uniformRowHeights());
    view.LoadIcons();
    Announce("10.0.0.1", Ready, "adam", "Sklad");
    Announce("10.0.0.2", Ready, "bara", "Sklad");
    QSignalSpy changed(view.model(), &QAbstractItemModel::dataChanged);
    QSignalSpy inserted(view.model(), &QAbstractItemModel::rowsInserted);

    view.SetItemImage(PeerItem(0), 0);
    view.SetItemImage(Group("Sklad"), 7);
    QCOMPARE(view.FindOrAddGroupItem("Sklad"), static_cast<TreeItem>(Group("Sklad")));
    view.ExpandItem(Group("Sklad"));
    Announce("10.0.0.1", Ready, "adam", "Sklad");  // nothing new
    QCOMPARE(changed.count(), 0);
    QCOMPARE(inserted.count(), 0);

    // A change touches its own row once, and setting it again nothing more.
    Message("10.0.0.1", "ahoj");
    QCOMPARE(changed.count(), 1);
    Message("10.0.0.1", "znovu");
    Announce("10.0.0.2", Away, "bara", "Sklad");
    QCOMPARE(changed.count(), 2);
    QCOMPARE(Image(PeerItem(0)), 5);
    QCOMPARE(Image(PeerItem(1)), 1);
    VerifyItemPictures();
}

void TestMrmx3View::iconSetsShowTheirPicturesAtTheChosenSize() {
    CMrmx3View& view = View();
    const QStringList states = {"ready", "away", "dnd", "lunch", "offline", "message", "bell"};
    struct Case {
        int32_t type;
        int32_t size;
        QString prefix;
        int pixels;
    };
    for (const Case& c : {Case{0, 0, "muz-", 48}, Case{1, 0, "zena-", 48}, Case{0, 1, "muz-", 24},
                          Case{1, 1, "zena-", 24}}) {
        m_h->state.Modify([&](SettingsRecord& s) {
            s.iconsType = c.type;
            s.iconsSize = c.size;
        });
        view.LoadIcons();
        QCOMPARE(view.IconPixels(), c.pixels);
        QCOMPARE(view.iconSize(), QSize(c.pixels, c.pixels));
        for (int image = 0; image < 8; ++image) {
            const QString file = image == 7 ? QStringLiteral("group") : c.prefix + states[image];
            const QImage expected = RenderFile(file, c.pixels);
            QVERIFY2(!expected.isNull(), qPrintable(file));
            QCOMPARE(view.IconAt(image).availableSizes(), QList<QSize>{QSize(c.pixels, c.pixels)});
            QVERIFY2(Picture(view.IconAt(image), c.pixels) == expected, qPrintable(file));
        }
    }
    QVERIFY(m_h->presenter.Shown().empty());
}

void TestMrmx3View::loadIconsRepaintsExistingItemsWithoutRemakingThem() {
    CMrmx3View& view = View();
    view.LoadIcons();
    Announce("10.0.0.1", Ready, "adam", "Sklad");
    Announce("10.0.0.2", Ready, "bara", "Kancl");
    Announce("10.0.0.2", Away, "bara", "Kancl");
    Message("10.0.0.1", "ahoj");
    std::vector<QTreeWidgetItem*> before;
    for (QTreeWidgetItemIterator it(&view); *it != nullptr; ++it) {
        before.push_back(*it);
    }
    QCOMPARE(before.size(), size_t{4});
    const qint64 messageLarge = view.IconAt(5).cacheKey();

    m_h->state.Modify([](SettingsRecord& s) { s.iconsSize = 1; });
    view.LoadIcons();
    std::vector<QTreeWidgetItem*> after;
    for (QTreeWidgetItemIterator it(&view); *it != nullptr; ++it) {
        after.push_back(*it);
    }
    QCOMPARE(after, before);
    QCOMPARE(view.iconSize(), QSize(24, 24));
    QCOMPARE(Image(PeerItem(0)), 5);
    QCOMPARE(Image(PeerItem(1)), 1);
    QVERIFY(PeerItem(0)->icon(0).cacheKey() != messageLarge);
    QCOMPARE(PeerItem(0)->icon(0).availableSizes(), QList<QSize>{QSize(24, 24)});
    VerifyItemPictures();

    // The other set reaches the same items.
    m_h->state.Modify([](SettingsRecord& s) { s.iconsType = 1; });
    view.LoadIcons();
    QVERIFY(Picture(PeerItem(0)->icon(0), 24) == RenderFile("zena-message", 24));
    QVERIFY(Picture(PeerItem(1)->icon(0), 24) == RenderFile("zena-away", 24));
    QVERIFY(Picture(Group("Sklad")->icon(0), 24) == RenderFile("group", 24));
    QVERIFY(m_h->presenter.Shown().empty());
}

void TestMrmx3View::invalidIconSettingsLeaveTheTreeWithoutPictures() {
    CMrmx3View& view = View();
    view.LoadIcons();
    Announce("10.0.0.1", Ready, "adam", "Sklad");
    Ring("10.0.0.1");
    const std::string prefix = res::String(res::kStrTraceCodePrefix);
    const auto verifyNoPictures = [&] {
        for (QTreeWidgetItemIterator it(&view); *it != nullptr; ++it) {
            QVERIFY((*it)->icon(0).isNull());
        }
        for (int image = 0; image < 8; ++image) {
            QVERIFY(view.IconAt(image).isNull());
        }
    };

    m_h->state.Modify([](SettingsRecord& s) { s.iconsSize = 5; });
    view.LoadIcons();
    QCOMPARE(m_h->presenter.Texts(), (std::vector<std::string>{prefix + "View 5, IcoSz 5"}));
    QCOMPARE(m_h->presenter.Shown().back().icon, BoxIcon::Exclamation);
    verifyNoPictures();
    // Items that arrive meanwhile have no picture either.
    Announce("10.0.0.2", Ready, "bara", "Kancl");
    verifyNoPictures();

    m_h->state.Modify([](SettingsRecord& s) {
        s.iconsType = 1;
        s.iconsSize = -2;
    });
    view.LoadIcons();
    QCOMPARE(m_h->presenter.Texts().back(), prefix + "View 6, IcoSz -2");
    verifyNoPictures();

    m_h->state.Modify([](SettingsRecord& s) {
        s.iconsType = 2;
        s.iconsSize = 0;
    });
    view.LoadIcons();
    QCOMPARE(m_h->presenter.Texts().size(), size_t{2});
    verifyNoPictures();

    // Valid settings bring every item's own picture back.
    m_h->state.Modify([](SettingsRecord& s) { s.iconsType = 0; });
    view.LoadIcons();
    QCOMPARE(Image(PeerItem(0)), 6);
    QCOMPARE(Image(PeerItem(1)), 0);
    QVERIFY(Picture(PeerItem(0)->icon(0), 48) == RenderFile("muz-bell", 48));
    VerifyItemPictures();
}

void TestMrmx3View::doubleClickOpensOnlyTheCurrentPeer() {
    CMrmx3View& view = View();
    view.LoadIcons();
    Announce("10.0.0.1", Ready, "adam", "Sklad");
    Announce("10.0.0.2", Ready, "bara", "Sklad");

    view.OnDoubleClick();  // nothing is current
    view.setCurrentItem(Group("Sklad"));
    view.OnDoubleClick();
    QVERIFY(m_h->factory.created.empty());
    QVERIFY(m_h->presenter.Shown().empty());

    view.setCurrentItem(PeerItem(1));
    view.OnDoubleClick();
    QCOMPARE(m_h->factory.created.size(), size_t{1});
    QCOMPARE(m_h->factory.created[0]->PeerIndex(), 1);
    QVERIFY(m_h->factory.created[0]->shown);
    QCOMPARE(m_h->factory.created[0]->caption, std::string("bara@PC"));

    // The balloon's peer: the latest notification.
    Message("10.0.0.1", "ahoj");
    m_h->network->OpenNotifiedConversation();
    QCOMPARE(m_h->factory.created.size(), size_t{2});
    QCOMPARE(m_h->factory.created[1]->PeerIndex(), 0);
    m_h->network->OpenConversation(1);  // reused
    QCOMPARE(m_h->factory.created.size(), size_t{2});

    // A window that cannot be made: the box, and a later try makes one.
    Announce("10.0.0.3", Ready, "cyril", "Sklad");
    m_h->factory.refuse = true;
    view.setCurrentItem(PeerItem(2));
    view.OnDoubleClick();
    QCOMPARE(m_h->presenter.Texts(), (std::vector<std::string>{"Error creating Dialog"}));
    m_h->factory.refuse = false;
    view.OnDoubleClick();
    QCOMPARE(m_h->factory.created.back()->PeerIndex(), 2);
}

void TestMrmx3View::mouseDoubleClickTogglesGroupsAndOpensPeers() {
    CMrmx3View& view = View();
    view.LoadIcons();
    Announce("10.0.0.1", Ready, "adam", "Sklad");
    Announce("10.0.0.2", Ready, "bara", "Sklad");
    view.resize(300, 400);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QTreeWidgetItem* group = Group("Sklad");
    QVERIFY(group->isExpanded());
    const QPoint onGroup = view.visualItemRect(group).center();
    DoubleClick(onGroup);
    QVERIFY(!group->isExpanded());
    QVERIFY(m_h->factory.created.empty());
    DoubleClick(onGroup);
    QVERIFY(group->isExpanded());
    QVERIFY(m_h->factory.created.empty());

    DoubleClick(view.visualItemRect(PeerItem(1)).center());
    QCOMPARE(m_h->factory.created.size(), size_t{1});
    QCOMPARE(m_h->factory.created[0]->PeerIndex(), 1);

    // A blank part of the tree opens the peer that is current.
    view.setCurrentItem(PeerItem(0));
    const QPoint blank(10, view.viewport()->height() - 5);
    QVERIFY(view.itemAt(blank) == nullptr);
    DoubleClick(blank);
    QCOMPARE(m_h->factory.created.size(), size_t{2});
    QCOMPARE(m_h->factory.created[1]->PeerIndex(), 0);

    // Only the left button.
    view.setCurrentItem(PeerItem(1));
    m_h->factory.created[0]->shown = false;
    DoubleClick(view.visualItemRect(PeerItem(1)).center(), Qt::RightButton);
    QVERIFY(!m_h->factory.created[0]->shown);
}

void TestMrmx3View::choosingGroupCollapsesOnlyTheOneChosenBefore() {
    CMrmx3View& view = View();
    Announce("10.0.0.1", Ready, "adam", "A");
    Announce("10.0.0.2", Ready, "bara", "B");
    Announce("10.0.0.3", Ready, "cyril", "C");
    QTreeWidgetItem* a = Group("A");
    QTreeWidgetItem* b = Group("B");
    QTreeWidgetItem* c = Group("C");
    QVERIFY(a->isExpanded() && b->isExpanded() && c->isExpanded());

    // The groups their newcomers opened stay open.
    view.setCurrentItem(b);
    QVERIFY(a->isExpanded() && b->isExpanded() && c->isExpanded());

    // Choosing a peer leaves the groups as they are.
    view.setCurrentItem(b->child(0));
    QVERIFY(a->isExpanded() && b->isExpanded() && c->isExpanded());

    view.setCurrentItem(a);
    QVERIFY(a->isExpanded() && !b->isExpanded() && c->isExpanded());
    view.setCurrentItem(c);
    QVERIFY(!a->isExpanded() && !b->isExpanded() && c->isExpanded());

    // A group collapsed by hand opens again when chosen.
    view.setCurrentItem(c->child(0));
    c->setExpanded(false);
    view.setCurrentItem(c);
    QVERIFY(c->isExpanded());

    // A newcomer opens its group again.
    Announce("10.0.0.4", Ready, "dana", "A");
    QVERIFY(a->isExpanded() && c->isExpanded());
}

void TestMrmx3View::remadeItemKeepsTheSelectionAndTheGroups() {
    CMrmx3View& view = View();
    Announce("10.0.0.1", Ready, "adam", "A");
    Announce("10.0.0.2", Ready, "bara", "B");
    Announce("10.0.0.3", Ready, "cyril", "C");
    Announce("10.0.0.4", Ready, "dana", "D");
    Group("D")->setExpanded(false);
    QTreeWidgetItem* a = Group("A");
    QTreeWidgetItem* b = Group("B");
    QTreeWidgetItem* c = Group("C");
    QTreeWidgetItem* d = Group("D");

    // The selected peer is the only one of its group, and of the one it moves to.
    view.setCurrentItem(PeerItem(0));
    Announce("10.0.0.1", Ready, "adela", "A");
    QCOMPARE(view.currentItem(), PeerItem(0));
    QVERIFY(PeerItem(0)->isSelected());
    QCOMPARE(PeerItem(0)->text(0), QStringLiteral("adela@PC"));
    QVERIFY(a->isExpanded() && b->isExpanded() && c->isExpanded() && !d->isExpanded());

    // Its group goes with it.
    Announce("10.0.0.1", Ready, "adela", "E");
    QCOMPARE(view.currentItem(), PeerItem(0));
    QCOMPARE(PeerItem(0)->parent(), Group("E"));
    QVERIFY(Group("E")->isExpanded());
    QCOMPARE(GroupTexts(), (QStringList{"B", "C", "D", "E"}));
    QVERIFY(b->isExpanded() && c->isExpanded() && !d->isExpanded());

    // Another peer's item is remade: the selection stays where it is.
    Announce("10.0.0.2", Ready, "barbora", "B");
    QCOMPARE(view.currentItem(), PeerItem(0));
    QVERIFY(!PeerItem(1)->isSelected());
    QVERIFY(b->isExpanded() && c->isExpanded() && !d->isExpanded());
}

// A group item goes with its last peer item and the index forgets it; a
// Disconnected peer still holds its group.
void TestMrmx3View::groupsWithoutPeersGoAndComeBackThroughTheIndex() {
    CMrmx3View& view = View();
    Announce("10.0.0.1", Ready, "adam", "Kancl");
    Announce("10.0.0.1", Disconnected, "adam", "Kancl");
    Announce("10.0.0.2", Ready, "bara", "Sklad");

    // A peer that announces another group every time.
    for (int i = 0; i < 300; ++i) {
        Announce("10.0.0.3", Ready, "cyril", "Skupina " + std::to_string(i));
        QVERIFY(view.topLevelItemCount() <= m_h->network->Directory().PeerCount());
    }
    QCOMPARE(GroupTexts(), (QStringList{"Kancl", "Sklad", "Skupina 299"}));
    QCOMPARE(ChildTexts(Group("Kancl")), (QStringList{"adam@PC"}));

    // A group made again after it went is found again, and only once.
    Announce("10.0.0.2", Ready, "bara", "Skupina 5");
    QCOMPARE(GroupTexts(), (QStringList{"Kancl", "Skupina 299", "Skupina 5"}));
    QTreeWidgetItem* again = Group("Skupina 5");
    Announce("10.0.0.3", Ready, "cyril", "Skupina 5");
    QCOMPARE(GroupTexts(), (QStringList{"Kancl", "Skupina 5"}));
    QCOMPARE(ChildTexts(again), (QStringList{"bara@PC", "cyril@PC"}));
    QCOMPARE(view.FindOrAddGroupItem("Skupina 5"), static_cast<TreeItem>(again));

    // The group chosen last goes; choosing another group afterwards is safe.
    view.setCurrentItem(again);
    Announce("10.0.0.2", Ready, "bara", "Sklad");
    Announce("10.0.0.3", Ready, "cyril", "Sklad");
    QCOMPARE(GroupTexts(), (QStringList{"Kancl", "Sklad"}));
    view.setCurrentItem(Group("Kancl"));
    QVERIFY(Group("Kancl")->isExpanded() && Group("Sklad")->isExpanded());

    // The items still count: a peer listed after the removals opens.
    view.setCurrentItem(PeerItem(2));
    view.OnDoubleClick();
    QCOMPARE(m_h->factory.created.size(), size_t{1});
    QCOMPARE(m_h->factory.created[0]->PeerIndex(), 2);
}

void TestMrmx3View::enterOpensTheCurrentPeerAndTheTreeIsNamed() {
    CMrmx3View& view = View();
    QCOMPARE(view.accessibleName(), QStringLiteral("Uživatelé"));
    Announce("10.0.0.1", Ready, "adam", "Sklad");
    Announce("10.0.0.2", Ready, "bara", "Sklad");
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.setFocus();

    // On a group Enter opens nothing.
    view.setCurrentItem(Group("Sklad"));
    QTest::keyClick(&view, Qt::Key_Return);
    QVERIFY(m_h->factory.created.empty());
    view.setCurrentItem(PeerItem(1));
    QTest::keyClick(&view, Qt::Key_Return);
    QCOMPARE(m_h->factory.created.size(), size_t{1});
    QCOMPARE(m_h->factory.created[0]->PeerIndex(), 1);
    view.setCurrentItem(PeerItem(0));
    QTest::keyClick(&view, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(m_h->factory.created.size(), size_t{2});
    QCOMPARE(m_h->factory.created[1]->PeerIndex(), 0);
}

// A screen reader asks for rows again and again: a row is one object for as
// long as its item lives, and the rows are the shown items in their order.
void TestMrmx3View::accessibleRowsAreMadeOnceAndGoWithTheirItems() {
    CMrmx3View& view = View();
    Announce("10.0.0.1", Ready, "adam", "Sklad");
    Announce("10.0.0.2", Ready, "bara", "Sklad");
    Announce("10.0.0.3", Ready, "cyril", "Solo");
    QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(&view);
    QVERIFY(tree != nullptr);
    QCOMPARE(tree->role(), QAccessible::Tree);
    const auto names = [tree] {
        QStringList texts;
        for (int i = 0; i < tree->childCount(); ++i) {
            texts << tree->child(i)->text(QAccessible::Name);
        }
        return texts;
    };
    QCOMPARE(names(), (QStringList{"Sklad", "adam@PC", "bara@PC", "Solo", "cyril@PC"}));
    QAccessibleInterface* adam = tree->child(1);
    QCOMPARE(tree->child(1), adam);
    QCOMPARE(tree->indexOfChild(adam), 1);
    QCOMPARE(adam->role(), QAccessible::TreeItem);
    QVERIFY(tree->child(0)->state().expanded);
    const QAccessible::Id adamId = QAccessible::uniqueId(adam);

    Announce("10.0.0.1", Ready, "adela", "Sklad");
    QCOMPARE(QAccessible::accessibleInterface(adamId), nullptr);
    QCOMPARE(names(), (QStringList{"Sklad", "bara@PC", "adela@PC", "Solo", "cyril@PC"}));

    Group("Solo")->setExpanded(false);
    QCOMPARE(names(), (QStringList{"Sklad", "bara@PC", "adela@PC", "Solo"}));
    QVERIFY(tree->child(3)->state().collapsed);
}

// The items a batch makes go under their groups at its end, one insertion per
// group, in order; meanwhile the peer logic may select, regroup and delete
// them as shown items.
void TestMrmx3View::aBatchsItemsGoUnderTheirGroupsTogetherAtItsEnd() {
    CMrmx3View& view = View();
    view.LoadIcons();
    Announce("10.0.0.1", Ready, "adam", "Sklad");
    view.setCurrentItem(PeerItem(0));
    QSignalSpy inserted(view.model(), &QAbstractItemModel::rowsInserted);
    const auto peerInsertions = [&inserted] {
        return std::count_if(inserted.begin(), inserted.end(), [](const QList<QVariant>& args) {
            return args.at(0).value<QModelIndex>().isValid();
        });
    };

    view.BeginBatch();
    Announce("10.0.0.2", Ready, "bara", "Sklad");
    Announce("10.0.0.3", Ready, "cyril", "Kancl");
    Announce("10.0.0.4", Ready, "emil", "Kancl");
    Announce("10.0.0.5", Ready, "dana", "Sklad");
    Announce("10.0.0.4", Ready, "emil", "Sklad");   // its waiting item goes
    Announce("10.0.0.1", Ready, "adela", "Sklad");  // the selected item is remade
    QCOMPARE(peerInsertions(), 0);
    QCOMPARE(ChildTexts(Group("Sklad")), QStringList{});
    QCOMPARE(view.GroupOf(PeerItem(1)), static_cast<TreeItem>(Group("Sklad")));
    QVERIFY(view.HasPeerItems(Group("Kancl")));
    QVERIFY(view.IsSelectedItem(PeerItem(0)));
    view.EndBatch();

    QCOMPARE(peerInsertions(), 2);
    QCOMPARE(GroupTexts(), (QStringList{"Sklad", "Kancl"}));
    QCOMPARE(ChildTexts(Group("Sklad")),
             (QStringList{"bara@PC", "dana@PC", "emil@PC", "adela@PC"}));
    QCOMPARE(ChildTexts(Group("Kancl")), (QStringList{"cyril@PC"}));
    QVERIFY(Group("Sklad")->isExpanded() && Group("Kancl")->isExpanded());
    QCOMPARE(view.currentItem(), PeerItem(0));
    for (int index = 0; index < 5; ++index) {
        QCOMPARE(PeerItem(index)->parent(), Group(index == 2 ? "Kancl" : "Sklad"));
        QCOMPARE(Data(PeerItem(index)), static_cast<quint32>(index));
    }
    VerifyItemPictures();
    QCOMPARE(view.findItems("dana@PC", Qt::MatchExactly | Qt::MatchRecursive).size(), 1);
}

// In a large tree the items of a small batch wait for more, so that the tree
// is laid out once for many; they come in within the longest wait.
void TestMrmx3View::inALargeTreeABatchsItemsWaitForMoreAtMostAWhile() {
    CMrmx3View& view = View();
    for (int i = 0; i < CMrmx3View::kPromptRows; ++i) {
        Announce("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256), Ready,
                 "u" + std::to_string(i), "Sklad");
    }
    view.BeginBatch();
    Announce("10.0.0.1", Ready, "adam", "Kancl");
    view.EndBatch();
    TreeItem adam = PeerItem(CMrmx3View::kPromptRows);
    QCOMPARE(view.GroupOf(adam), static_cast<TreeItem>(Group("Kancl")));
    QCOMPARE(Group("Kancl")->childCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(Group("Kancl")->childCount(), 1,
                              static_cast<int>(CMrmx3View::kLongestWait.count()) * 20);
    QCOMPARE(Group("Kancl")->child(0), adam);
    QCOMPARE(ChildTexts(Group("Kancl")), (QStringList{"adam@PC"}));
}

QTEST_MAIN(TestMrmx3View)
#include "TestMrmx3View.moc"
