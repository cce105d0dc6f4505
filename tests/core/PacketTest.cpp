// tests/core/PacketTest.cpp
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/Fakes.h"
#include "core/net/Packet.h"
#include "core/res/Strings.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Sent(const PacketBuffer& packet, MessagePresenter& presenter) {
    const int16_t length = PacketLength(packet, presenter);
    return Bytes(packet.bytes.begin(), packet.bytes.begin() + length);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes Field(const std::string& text, size_t width) {
    Bytes field(width, 0);
    std::memcpy(field.data(), text.data(), text.size());
    return field;
}

PacketBuffer Dirty() {
    PacketBuffer packet;
    packet.bytes.fill(0xAA);
    return packet;
}

std::string TraceText(const std::string& code) {
    return res::String(res::kStrTraceCodePrefix) + code;
}

}  // namespace

TEST(PacketHeader, IsTwoLittleEndianSigned16BitFields) {
    PacketBuffer packet;
    packet.SetHeader(-2, 300);
    EXPECT_EQ(Bytes(packet.bytes.begin(), packet.bytes.begin() + 4),
              (Bytes{0xFE, 0xFF, 0x2C, 0x01}));
    EXPECT_EQ(packet.Header().type, -2);
    EXPECT_EQ(packet.Header().subtype, 300);

    packet.bytes[0] = 0x00;
    packet.bytes[1] = 0x80;
    EXPECT_EQ(packet.Header().type, -32768);
}

TEST(PacketPresence, IsAlways102BytesWithTheFieldsAtTheirOffsets) {
    RecordingPresenter presenter;
    PacketBuffer packet = Dirty();
    BuildPresence(packet, Away, "jan", "PC-7", "Sklad");
    const Bytes expected =
        Concat({{0x01, 0x00, 0x01, 0x00, 0x01, 0x00}, Field("jan@PC-7", 48), Field("Sklad", 48)});
    EXPECT_EQ(Sent(packet, presenter), expected);
    // Nothing left over from before: the rest of the buffer is zero.
    for (size_t i = kPresenceLength; i < kPacketBufferSize; ++i) {
        ASSERT_EQ(packet.bytes[i], 0) << "byte " << i;
    }

    BuildPresence(packet, Ready, "", "", "");
    EXPECT_EQ(Sent(packet, presenter),
              Concat({{0x01, 0x00, 0x01, 0x00, 0x00, 0x00}, Field("@", 48), Field("", 48)}));
    EXPECT_TRUE(presenter.Shown().empty());
}

TEST(PacketPresence, DoNotDisturbAndGoodbyeStatusesOnTheWire) {
    RecordingPresenter presenter;
    PacketBuffer packet;
    BuildPresence(packet, DoNotDisturb, "a", "b", "c");
    EXPECT_EQ(Bytes(packet.bytes.begin(), packet.bytes.begin() + 6),
              (Bytes{0x01, 0x00, 0x01, 0x00, 0x02, 0x00}));
    BuildPresence(packet, Disconnected, "a", "b", "c");
    EXPECT_EQ(packet.bytes[4], 0x04);
    BuildPresence(packet, -1, "a", "b", "c");
    EXPECT_EQ(packet.bytes[4], 0xFF);
    EXPECT_EQ(packet.bytes[5], 0xFF);
    EXPECT_EQ(PacketLength(packet, presenter), 102);
}

TEST(PacketPresence, JoinedNameAndGroupAreCutTo47Bytes) {
    RecordingPresenter presenter;
    PacketBuffer packet = Dirty();
    const std::string user(30, 'u');
    const std::string computer(30, 'c');
    const std::string group(60, 'g');
    BuildPresence(packet, Ready, user, computer, group);

    const std::string joined = (user + "@" + computer).substr(0, 47);
    const Bytes expected = Concat(
        {{0x01, 0x00, 0x01, 0x00, 0x00, 0x00}, Field(joined, 48), Field(std::string(47, 'g'), 48)});
    EXPECT_EQ(Sent(packet, presenter), expected);

    // Exactly 47 bytes fit whole; the user name alone may fill the field.
    BuildPresence(packet, Ready, std::string(46, 'u'), "", std::string(47, 'g'));
    DatagramView view(packet.data(), kPresenceLength);
    EXPECT_EQ(view.PresenceName(), std::string(46, 'u') + "@");
    EXPECT_EQ(view.PresenceGroup(), std::string(47, 'g'));
    BuildPresence(packet, Ready, std::string(80, 'u'), "PC", "");
    EXPECT_EQ(DatagramView(packet.data(), kPresenceLength).PresenceName(), std::string(47, 'u'));
}

TEST(PacketText, LengthIsHeaderTextAndNul) {
    RecordingPresenter presenter;
    PacketBuffer packet = Dirty();
    BuildText(packet, "ahoj");
    EXPECT_EQ(Sent(packet, presenter), (Bytes{0x01, 0x00, 0x02, 0x00, 'a', 'h', 'o', 'j', 0x00}));

    BuildText(packet, "");
    EXPECT_EQ(Sent(packet, presenter), (Bytes{0x01, 0x00, 0x02, 0x00, 0x00}));

    BuildText(packet, std::string(kMaxDeliverableText, 'x'));
    EXPECT_EQ(PacketLength(packet, presenter), 508);

    BuildText(packet, std::string(511, 'y'));
    EXPECT_EQ(PacketLength(packet, presenter), 516);
    EXPECT_TRUE(presenter.Shown().empty());
}

TEST(PacketText, LongTextIsCutTo511BytesAndStaysTerminated) {
    RecordingPresenter presenter;
    PacketBuffer packet = Dirty();
    std::string text(600, 'z');
    text[510] = 'L';  // the last byte that fits
    BuildText(packet, text);
    EXPECT_EQ(PacketLength(packet, presenter), 516);
    EXPECT_EQ(packet.bytes[4 + 510], 'L');
    EXPECT_EQ(packet.bytes[kPacketBufferSize - 1], 0);
}

TEST(PacketText, TextWithoutNulInTheBodyNeverCountsPastTheBuffer) {
    RecordingPresenter presenter;
    PacketBuffer packet;
    packet.bytes.fill('x');
    packet.SetHeader(kTypeChat, kSubText);
    EXPECT_EQ(PacketLength(packet, presenter), static_cast<int16_t>(kPacketBufferSize));
}

TEST(PacketHeaderOnly, TypingAndBellAreExactlyTheirHeaders) {
    RecordingPresenter presenter;
    PacketBuffer packet = Dirty();
    BuildTyping(packet);
    EXPECT_EQ(Sent(packet, presenter), (Bytes{0x01, 0x00, 0x08, 0x00}));
    EXPECT_EQ(packet.bytes[4], 0);

    packet = Dirty();
    BuildBell(packet);
    EXPECT_EQ(Sent(packet, presenter), (Bytes{0x02, 0x00, 0x02, 0x00}));
    EXPECT_EQ(packet.bytes[kPacketBufferSize - 1], 0);

    // Every subtype of type 2 is a bell of 4 bytes, without a complaint.
    packet.SetHeader(kTypeBell, 7);
    EXPECT_EQ(PacketLength(packet, presenter), 4);
    packet.SetHeader(kTypeBell, -1);
    EXPECT_EQ(PacketLength(packet, presenter), 4);
    EXPECT_TRUE(presenter.Shown().empty());
}

TEST(PacketGroupAssignment, CarriesTheGroupAfterTheHeader) {
    PacketBuffer packet = Dirty();
    BuildGroupAssignment(packet, "Vedeni");
    EXPECT_EQ(Bytes(packet.bytes.begin(), packet.bytes.begin() + 11),
              (Bytes{0x03, 0x00, 0x03, 0x00, 'V', 'e', 'd', 'e', 'n', 'i', 0x00}));

    BuildGroupAssignment(packet, std::string(60, 'g'));
    EXPECT_EQ(DatagramView(packet.data(), kPacketBufferSize).BodyText(), std::string(47, 'g'));
}

TEST(PacketLength, UnknownKindsShowTheTraceBoxAndGiveTheHeader) {
    RecordingPresenter presenter;
    PacketBuffer packet;

    packet.SetHeader(kTypeChat, 5);
    EXPECT_EQ(PacketLength(packet, presenter), 4);
    packet.SetHeader(kTypeChat, -2);
    EXPECT_EQ(PacketLength(packet, presenter), 4);
    // The program never sends a group assignment, so its length is unknown too.
    BuildGroupAssignment(packet, "Vedeni");
    EXPECT_EQ(PacketLength(packet, presenter), 4);
    packet.SetHeader(-1, 1);
    EXPECT_EQ(PacketLength(packet, presenter), 4);
    packet.SetHeader(0, 0);
    EXPECT_EQ(PacketLength(packet, presenter), 4);

    const std::string title = res::String(res::kStrAppTitle);
    const std::vector<ShownMessage> expected = {
        {title, TraceText("Sock 1, HdrST 5"), BoxIcon::Exclamation},
        {title, TraceText("Sock 1, HdrST -2"), BoxIcon::Exclamation},
        {title, TraceText("Sock 2, HdrT 3"), BoxIcon::Exclamation},
        {title, TraceText("Sock 2, HdrT -1"), BoxIcon::Exclamation},
        {title, TraceText("Sock 2, HdrT 0"), BoxIcon::Exclamation},
    };
    EXPECT_EQ(presenter.Shown(), expected);
}

// The views below read from heap copies of exactly the received size, so the
// address sanitizer stops any read past the bytes.
namespace {

class Received {
public:
    explicit Received(const Bytes& bytes) : m_size(bytes.size()) {
        if (m_size > 0) {
            m_data = std::make_unique<uint8_t[]>(m_size);
            std::memcpy(m_data.get(), bytes.data(), m_size);
        }
    }
    DatagramView View() const { return DatagramView(m_data.get(), m_size); }

private:
    std::unique_ptr<uint8_t[]> m_data;
    size_t m_size;
};

Bytes Repeat(uint8_t value, size_t count) {
    return Bytes(count, value);
}

}  // namespace

TEST(DatagramView, ReadsWhatTheBuilderWrote) {
    PacketBuffer packet;
    BuildPresence(packet, AtLunch, "eva", "NB-2", "Obchod");
    const Received presence(Bytes(packet.bytes.begin(), packet.bytes.begin() + 102));
    const DatagramView view = presence.View();
    EXPECT_TRUE(view.HasHeader());
    EXPECT_EQ(view.Type(), kTypeChat);
    EXPECT_EQ(view.Subtype(), kSubPresence);
    EXPECT_TRUE(view.IsCompletePresenceStatus());
    EXPECT_EQ(view.PresenceStatus(), AtLunch);
    EXPECT_EQ(view.PresenceName(), "eva@NB-2");
    EXPECT_EQ(view.PresenceGroup(), "Obchod");

    BuildText(packet, "dobr\xFD den");
    const Received text(Bytes(packet.bytes.begin(), packet.bytes.begin() + 14));
    EXPECT_EQ(text.View().BodyText(), "dobr\xFD den");
}

TEST(DatagramView, DatagramsShorterThanTheHeaderHaveNoKind) {
    for (const Bytes& bytes : {Bytes{}, Bytes{0x01}, Bytes{0x01, 0x00, 0x01}}) {
        const Received received(bytes);
        const DatagramView view = received.View();
        EXPECT_FALSE(view.HasHeader());
        EXPECT_EQ(view.Type(), 0);
        EXPECT_EQ(view.Subtype(), 0);
        EXPECT_FALSE(view.IsCompletePresenceStatus());
        EXPECT_EQ(view.PresenceName(), "");
        EXPECT_EQ(view.BodyText(), "");
    }
}

TEST(DatagramView, ShortPresenceHasNoStatusAndCutFields) {
    const Received five({0x01, 0x00, 0x01, 0x00, 0x02});
    EXPECT_TRUE(five.View().HasHeader());
    EXPECT_FALSE(five.View().IsCompletePresenceStatus());
    EXPECT_EQ(five.View().Int16At(kPresenceStatusOffset), std::nullopt);
    EXPECT_EQ(five.View().PresenceName(), "");

    const Received six({0x01, 0x00, 0x01, 0x00, 0x03, 0x00});
    EXPECT_TRUE(six.View().IsCompletePresenceStatus());
    EXPECT_EQ(six.View().PresenceStatus(), AtLunch);

    // The name runs to the end of the data; the group lies beyond it.
    const Received twenty(Concat({{0x01, 0x00, 0x01, 0x00, 0x00, 0x00}, Repeat('n', 14)}));
    EXPECT_EQ(twenty.View().PresenceName(), std::string(14, 'n'));
    EXPECT_EQ(twenty.View().PresenceGroup(), "");
}

TEST(DatagramView, UnterminatedFieldsStopAtTheirWidthOrTheEndOfData) {
    // A name filling all 48 bytes must not run on into the group.
    const Received full(
        Concat({{0x01, 0x00, 0x01, 0x00, 0x00, 0x00}, Repeat('n', 48), Field("g", 48)}));
    EXPECT_EQ(full.View().PresenceName(), std::string(48, 'n'));
    EXPECT_EQ(full.View().PresenceGroup(), "g");

    // Both fields unterminated, the group cut short by the end of data.
    const Received cut(
        Concat({{0x01, 0x00, 0x01, 0x00, 0x00, 0x00}, Repeat('n', 48), Repeat('g', 30)}));
    EXPECT_EQ(cut.View().PresenceGroup(), std::string(30, 'g'));

    const Received text({0x01, 0x00, 0x02, 0x00, 'a', 'b', 'c'});
    EXPECT_EQ(text.View().BodyText(), "abc");

    const Received largest(Concat({{0x01, 0x00, 0x02, 0x00}, Repeat('x', 504)}));
    EXPECT_EQ(largest.View().BodyText(), std::string(504, 'x'));
}

TEST(DatagramView, ReadsOutsideTheBytesGiveNothing) {
    const Received received({0x01, 0x00, 0x02, 0x00, 'h', 'i', 0x00, 0x07});
    const DatagramView view = received.View();
    EXPECT_EQ(view.Int16At(6), int16_t{0x0700});
    EXPECT_EQ(view.Int16At(7), std::nullopt);
    EXPECT_EQ(view.Int16At(8), std::nullopt);
    EXPECT_EQ(view.Int16At(SIZE_MAX), std::nullopt);
    EXPECT_EQ(view.TextAt(8), "");
    EXPECT_EQ(view.TextAt(SIZE_MAX), "");
    EXPECT_EQ(view.TextAt(4, 1), "h");
    EXPECT_EQ(view.TextAt(4, 0), "");
    EXPECT_EQ(view.TextAt(7), "\x07");
}
