// The transponder link: the command table as sent on the wire, broadcast
// requests, the scheduler, burst collection, receive framing and the replies
// that move the sequence on.
#include <cstring>
#include <string>
#include <vector>

#include "ais.h"
#include "codec/nmea.h"
#include "support/firmware_fixture.h"
#include "support/uart_recorder.h"

namespace {

constexpr uint32_t kUnknown = 0xFFFFFFFF;
constexpr uint32_t kMmsi = 992351000;

// The checksum a sentence should carry: the oracle of sentences whose
// payload the test does not fix.
std::string checksum_of(const std::string& sentence) {
    const size_t star = sentence.find('*');
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", codec::nmea_checksum(sentence.substr(1, star - 1)));
    return hex;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at = text.find(separator); at != std::string::npos;
         at = text.find(separator, start)) {
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

// A sentence with its checksum.
std::string sentence(const std::string& body, char start = '$') {
    return codec::build_sentence(start, body);
}

class AisLinkTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        start_tick();
        configuracion_ais.ctipo_comunicacion = 1;
        configuracion_ais.cbaudios = 4;  // 38400
        host::attach_uart_peer(0, &transponder);
        inicializacion_ais(1);
        stais.lmmsi = kMmsi;
        usb();
    }
    void TearDown() override { host::attach_uart_peer(0, nullptr); }

    // What one step of the sequencer wrote to the transponder.
    std::string step(uint8_t command) {
        transponder.bytes.clear();
        stais.ccomando = command;
        envio_comandos_ais();
        spend(200 * host::kMillisecond);
        return transponder.bytes;
    }

    // A burst as the collector hands it over.
    static void burst(const std::string& text) {
        std::memcpy(stais.cframe_rx, text.data(), text.size());
        stais.ibytes_rx = static_cast<uint16_t>(text.size());
        procesamos_trama_rx_ais();
    }

    UartRecorder transponder;
};

TEST_F(AisLinkTest, CommandTableSentencesAndReplyTimes) {
    const struct {
        uint8_t command;
        std::string sent;
        uint8_t timeout;
    } cases[] = {
        {1, "$PSMT,0,0,0x00000000,0,gpsfilt 0,0*31\r\n", 30},
        {2, "$PSMT,0,0,0x00000000,0,gpsfilt 9,0*38\r\n", 30},
        {3, "$UPANQ,AID*3B\r\n", 20},
        {4, "$UPANQ,ACE*30\r\n", 10},
        {5, "$UPANQ,ACF*33\r\n", 10},
        {6, "$UPANQ,MCR*2B\r\n", 10},
        {7, "", 0},
        {8, "$PSMT,0,0,0x00000000,1,getatontype,7*2E\r\n", 10},
        {9, "$PSMT,0,0,0x00000000,2,appver,1*51\r\n", 10},
        {10, "$PSMT,0,0,0x00000000,2,getserno,4*47\r\n", 10},
        {11, "$PSMT,0,0,0x00000000,1,vswr,5*56\r\n", 10},
        {12, "$PSMT,0,0,0x00000000,1,vin,6*24\r\n", 10},
        {13, "$UPANQ,AAR*25\r\n", 40},
        {14, "$PSMT,0,0,0x00000000,0,gpsfilt 49,0*0C\r\n", 30},
        {15, "$UPAID,992351000,1,111111111,0,C*23\r\n", 10},
        {17, "$UPANQ,AID*3B\r\n", 20},
        {18, "$UPMCR,992351000,SBS,0,C\r\n$UPMCR,992351000,MSS,0,4294967295,C\r\n", 10},
        {21, "$AIACE,992351000,20,,1,0,0,KTR09 TEST,0000000000,C,*78\r\n", 10},
        {24, "", 0},
    };
    stais.cbits_no_utilizados_caton_status = 0x3A;
    std::memcpy(stais.cnombre_ais, "KTR09 TEST@@@", 13);
    for (const auto& c : cases) {
        stais.cesperando_respuesta = 0;
        stais.ctimeout_respuesta_comando = 0;
        EXPECT_EQ(c.sent, step(c.command)) << int(c.command);
        EXPECT_EQ(c.timeout != 0, stais.cesperando_respuesta == 1) << int(c.command);
        // The countdown may have run a step or two while the frame went out.
        EXPECT_LE(stais.ctimeout_respuesta_comando, c.timeout) << int(c.command);
        EXPECT_GE(stais.ctimeout_respuesta_comando + 3, c.timeout) << int(c.command);
    }
}

TEST_F(AisLinkTest, AtonStatusSentencesSubtractTheirOwnValue) {
    stais.cbits_no_utilizados_caton_status = 0x3A;
    EXPECT_EQ("$AIACE,992351000,1E,,1,0,0,,0000000000,C,*", step(22).substr(0, 42));
    EXPECT_EQ("$AIACE,992351000,1C,,1,0,0,,0000000000,C,*", step(23).substr(0, 42));
}

TEST_F(AisLinkTest, Message8GoesOutAsThreeFragmentsAndRestartsItsCountdown) {
    stais.ifrecuencia_msg8 = 180;
    stais.cindice_msg8 = 3;
    stais.creintentos_msg8 = 1;
    stais.cextraigo = 1;
    const std::string sent = step(19);
    std::vector<std::string> sentences = split(sent, '\n');
    ASSERT_EQ(4u, sentences.size()) << sent;
    EXPECT_EQ("", sentences[3]);
    std::string payload;
    const size_t sizes[] = {25, 25, 2};
    for (int k = 0; k < 3; ++k) {
        const std::string& s = sentences[k];
        ASSERT_EQ('\r', s.back());
        const std::vector<std::string> fields = split(s.substr(0, s.size() - 4), ',');
        ASSERT_EQ(14u, fields.size()) << s;
        EXPECT_EQ("!AIMEB", fields[0]);
        EXPECT_EQ("3", fields[1]);
        EXPECT_EQ(std::to_string(k + 1), fields[2]);
        EXPECT_EQ("1", fields[3]) << "sequential identifier";
        EXPECT_EQ("0", fields[4]);
        EXPECT_EQ("992351000", fields[5]);
        EXPECT_EQ("8", fields[6]);
        EXPECT_EQ("3", fields[7]) << "index";
        EXPECT_EQ("1", fields[8]) << "broadcast behaviour";
        EXPECT_EQ("", fields[9]) << "no destination";
        EXPECT_EQ("0", fields[10]);
        EXPECT_EQ("C", fields[11]);
        EXPECT_EQ(sizes[k], fields[12].size());
        EXPECT_EQ("0", fields[13]) << "fill bits";
        EXPECT_EQ(checksum_of(s), s.substr(s.size() - 3, 2)) << s;
        payload += fields[12];
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&stais.cmsg_tx[1]), 52), payload);
    EXPECT_EQ(1, stais.cprotocolo_msg8);
    EXPECT_GE(stais.itimeout_tx_msg8, 179);
}

// Its 23 six-bit characters carry 138 bits of text and no fill.
TEST_F(AisLinkTest, Message12IsOneSentenceWithoutFillBits) {
    stais.ifrecuencia_msg12 = 60;
    stais.cindice_msg12 = 2;
    stais.creintentos_msg12 = 3;
    stais.cprotocolo_msg12 = 1;
    shipras.lmmsi_detectado = 235040000;
    shipras.cnew_msg12 = 1;
    EXPECT_EQ("!AIMEB,1,1,3,0,992351000,12,2,1,235040000,0,C,D5P5CD1CP1@B?H9=1>4????,0*61\r\n",
              step(20));
    EXPECT_EQ(0, shipras.cnew_msg12);
}

TEST_F(AisLinkTest, SchedulerOrder) {
    const struct {
        const char* description;
        uint16_t period6, period8, period12;
        uint8_t new6_0, new6_1, new12, gps, sync;
        uint8_t command, channel6;
    } cases[] = {
        {"message 6 first, channel 1 before 2", 60, 60, 60, 1, 1, 1, 2, 3, 16, 0},
        {"message 6 of channel 2", 60, 60, 60, 0, 1, 1, 2, 3, 16, 1},
        {"message 6 without a period", 0, 60, 60, 1, 1, 1, 2, 3, 19, 0xFF},
        {"message 8", 0, 60, 60, 0, 0, 1, 2, 3, 19, 0xFF},
        {"message 8 without a period", 0, 0, 60, 0, 0, 1, 2, 3, 20, 0xFF},
        {"message 12 needs a ship", 0, 0, 60, 0, 0, 0, 2, 3, 2, 0xFF},
        {"GPS output on", 0, 0, 0, 0, 0, 0, 2, 3, 2, 0xFF},
        {"GPS output off", 0, 0, 0, 0, 0, 0, 1, 3, 1, 0xFF},
        {"synchronisation starts", 0, 0, 0, 0, 0, 0, 0, 3, 2, 0xFF},
        {"synchronisation ends", 0, 0, 0, 0, 0, 0, 0, 1, 1, 0xFF},
        {"nothing due", 0, 0, 0, 0, 0, 0, 0, 2, 0, 0xFF},
    };
    for (const auto& c : cases) {
        stais.ccanal_msg6 = 0xFF;
        stais.itimeout_tx_msg6 = stais.itimeout_tx_msg8 = stais.itimeout_tx_msg12 = 0;
        stais.ifrecuencia_msg6 = c.period6;
        stais.ifrecuencia_msg8 = c.period8;
        stais.ifrecuencia_msg12 = c.period12;
        sensor[0].cnew_msg6 = c.new6_0;
        sensor[1].cnew_msg6 = c.new6_1;
        shipras.cnew_msg12 = c.new12;
        stais.cstatus_gps = c.gps;
        stais.cnueva_sincronizacion_horaria = c.sync;
        EXPECT_EQ("", step(0)) << c.description;
        EXPECT_EQ(c.command, stais.ccomando) << c.description;
        EXPECT_EQ(c.channel6, stais.ccanal_msg6) << c.description;
        EXPECT_EQ(0, stais.cesperando_respuesta) << c.description;
    }
}

// The channel whose parts are going out keeps its turn, the other waits.
TEST_F(AisLinkTest, AChosenChannelKeepsItsTurnForItsNextPart) {
    stais.ifrecuencia_msg6 = 60;
    for (uint8_t chosen : {0, 1}) {
        stais.ccanal_msg6 = chosen;
        stais.itimeout_tx_msg6 = 0;
        stais.ccomando = 0;
        sensor[0].cnew_msg6 = sensor[1].cnew_msg6 = 2;
        EXPECT_EQ("", step(0));
        EXPECT_EQ(16, stais.ccomando) << static_cast<int>(chosen);
        EXPECT_EQ(chosen, stais.ccanal_msg6);
    }
}

TEST_F(AisLinkTest, TraceShowsTheFrameWithLineEndsVisible) {
    stais.cextraigo = 2;
    step(3);
    EXPECT_EQ("\r\nTx AIS (15) => $UPANQ,AID*3Bda\r\n", usb());
}

TEST_F(AisLinkTest, BurstEndsAtSilenceWhileACommandWaitsAndAtTheLineFeedWhenIdle) {
    const std::string reply = "$PSMT,1,vin,6,12345*00\r\n";
    for (uint8_t command : {12, 0}) {
        stais.ccomando = command;
        host::uart_peer_send(0, reply, 38400);
        const host::Micros sent = host::now();
        while (Serial0.available() == 0) {
        }
        procesamos_ais();
        const host::Micros took = host::now() - sent;
        const host::Micros line = reply.size() * 10 * host::kSecond / 38400;
        if (command == 0) {
            EXPECT_LT(took, line + 5 * host::kMillisecond);
        } else {
            EXPECT_GE(took, line + 99 * host::kMillisecond);
            EXPECT_LT(took, line + 110 * host::kMillisecond);
        }
        EXPECT_EQ(0, stais.ibytes_rx);
    }
}

// Traffic with no pause in it while a command waits: each burst ends at a
// sentence's end within a bounded time, and every byte is handed over once.
TEST_F(AisLinkTest, ABurstUnderUnbrokenTrafficEndsAtASentenceInBoundedTime) {
    stais.ccomando = 12;
    stais.cextraigo = 2;  // each burst's bytes are dumped
    std::string stream;
    for (int i = 0; i < 60; ++i) {
        char body[48];
        std::snprintf(body, sizeof body, "AIALR,000000.00,%03d,A,V,LINE", i);
        stream += sentence(body);
    }
    host::uart_peer_send(0, stream, 38400);
    const host::Micros line = stream.size() * 10 * host::kSecond / 38400;
    const host::Micros start = host::now();
    std::string dumped;
    int bursts = 0;
    while (host::now() < start + line + 200 * host::kMillisecond) {
        if (Serial0.available() == 0) {
            spend(host::kMillisecond);
            continue;
        }
        const host::Micros from = host::now();
        procesamos_ais();
        ++bursts;
        EXPECT_LT(host::now() - from, 300 * host::kMillisecond) << bursts;
        const std::string out = usb();
        const size_t arrow = out.find(") =>");
        ASSERT_NE(std::string::npos, arrow);
        const std::string bytes = out.substr(arrow + 4, out.find("\r\n", arrow) - arrow - 4);
        EXPECT_EQ('a', bytes.back()) << "a burst ends with a sentence's line feed";
        dumped += bytes;
    }
    std::string visible = stream;
    for (char& c : visible) {
        c = c == '\r' ? 'd' : c == '\n' ? 'a' : c;
    }
    EXPECT_EQ(visible, dumped) << "every byte once, in order";
    EXPECT_EQ(0u, host::uart_status(0).lost);
    EXPECT_GE(bursts, 3) << "the stream was cut into bursts";
}

// A link restart forgets the MMSI while a broadcast may still be due: nothing
// goes out in the station's name, and the identity is asked for again.
TEST_F(AisLinkTest, NothingGoesOutInTheStationsNameBeforeItsMmsiIsKnown) {
    stais.lmmsi = kUnknown;
    stais.ifrecuencia_msg8 = 180;
    stais.itimeout_tx_msg8 = 0;
    EXPECT_EQ("", step(0));
    EXPECT_EQ(3, stais.ccomando) << "the scheduler asks for the identity";
    for (uint8_t command : {15, 16, 18, 19, 20, 21, 22, 23}) {
        EXPECT_EQ("$UPANQ,AID*3B\r\n", step(command)) << static_cast<int>(command);
        EXPECT_EQ(3, stais.ccomando) << static_cast<int>(command);
    }
}

// ---- Receive framing -----------------------------------------------------------

TEST_F(AisLinkTest, FramingFindsEachSentenceStart) {
    const struct {
        const char* description;
        std::string burst;
        uint16_t battery;  // set by a "vin" reply that was recognised
    } cases[] = {
        {"plain", "$PSMT,1,vin,6,12345*5D\r\n", 1234},
        {"garbage before the $", "xx,9*$PSMT,1,vin,6,12345*5D\r\n", 1234},
        {"a ! wins over an earlier $", "x$x!PSMT,1,vin,6,12345*5D\r\n", 1234},
        {"last line without line feed", "$PSMT,1,vin,6,12345*5D", 1234},
        {"wrong checksum", "$PSMT,1,vin,6,12345*00\r\n", 0},
        {"no sentence start on the line", "xPSMT,1,vin,6,12345*5D\r\n", 0},
        {"its CR lost", "$PSMT,1,vin,6,12345*5D\n", 0},
        {"a byte between checksum and CR", "$PSMT,1,vin,6,12345*5DX\r\n", 0},
        {"two flips of one bit, checksum unchanged",
         "$PSMT,1,vin,6,\x11\x12"
         "345*5D\r\n",
         0},
        {"longer than 255 bytes", "$PSMT,1,vin,6,12345" + std::string(300, ' ') + "*5D\r\n", 0},
    };
    for (const auto& c : cases) {
        stais.ibateria = 0;
        stais.ccomando = 12;
        burst(c.burst);
        EXPECT_EQ(c.battery, stais.ibateria) << c.description;
    }
}

TEST_F(AisLinkTest, ChecksumFailureIsShownOutsideMode0) {
    stais.cextraigo = 1;
    burst("$UPANQ,AID*00\r\n");
    EXPECT_EQ("\r\n$UPANQ,AID*00\r\n\r\nChecksum failed AIS => 3B\r\n", usb());
    stais.cextraigo = 0;
    stais.cminutos_timeout_rx_frames = 1;
    burst("$UPANQ,AID*00\r\n");
    EXPECT_EQ("", usb());
    EXPECT_EQ(1, stais.cminutos_timeout_rx_frames) << "a bad sentence is no sign of life";
    burst("$UPANQ,AID*3B\r\n");
    EXPECT_EQ(10, stais.cminutos_timeout_rx_frames);
}

TEST_F(AisLinkTest, TwoRepliesInOneBurstAndTheWaitIsCleared) {
    stais.ccomando = 9;
    stais.cesperando_respuesta = 1;
    stais.creintentos_comando = 2;
    stais.ctimeout_respuesta_comando = 7;
    burst(sentence("PSMT,2,appver,1,2.1.7") + sentence("PSMT,2,getserno,4,SN0042"));
    EXPECT_STREQ("2.1.7", stais.cfirmware);
    EXPECT_EQ(0, std::strncmp("SN0042", stais.csn, 16));
    EXPECT_EQ(11, stais.ccomando) << "9 -> 10 -> 11";
    EXPECT_EQ(0, stais.cesperando_respuesta);
    EXPECT_EQ(0, stais.creintentos_comando);
    EXPECT_EQ(0, stais.ctimeout_respuesta_comando);
}

TEST_F(AisLinkTest, RecognitionOrderSkipsWhatIsNotForTheStation) {
    stais.ccomando = 4;
    stais.cesperando_respuesta = 1;
    // An own-message report while a command waits, and a GLONASS sentence
    // shaped like a report: neither is handled.
    burst(sentence("AIVDO,1,1,,A,E>k`sUoJK@@@@@@@@@@@@@@@@@@MIIRQ1bd0@@@@P0,4", '!') +
          sentence("GLACE,992351000,,,,,,NAME"));
    EXPECT_EQ(4, stais.ccomando);
    EXPECT_EQ(1, stais.cesperando_respuesta);
    EXPECT_EQ('@', stais.cnombre_ais[0]);
}

// ---- Replies -------------------------------------------------------------------

struct ReplyCase {
    const char* description;
    uint8_t before;
    std::string sentence;
    uint8_t after;
    bool clears_wait;
};

TEST_F(AisLinkTest, RepliesMoveTheSequenceOn) {
    const ReplyCase cases[] = {
        {"gpsfilt ack from any step", 2, sentence("PSMT,0,gpsfilt 9,0"), 0, true},
        {"vin from 12", 12, sentence("PSMT,1,vin,6,12345"), 0, true},
        {"vin elsewhere", 5, sentence("PSMT,1,vin,6,12345"), 5, true},
        {"vswr from 11", 11, sentence("PSMT,1,vswr,5,15"), 12, true},
        {"aton type from 8", 8, sentence("PSMT,1,getatontype,7,1"), 13, true},
        {"unknown code", 8, sentence("PSMT,1,x,99,1"), 8, false},
        {"vin without its value", 12, sentence("PSMT,1,vin,6,"), 12, false},
        {"ACE with the own MMSI", 4, sentence("ANACE,992351000,,,,,,LIGHTHOUSE 3,"), 6, true},
        {"ACE of another MMSI", 4, sentence("ANACE,123456789,,,,,,LIGHTHOUSE 3,"), 4, false},
        {"ACE at another step", 5, sentence("ANACE,992351000,,,,,,LIGHTHOUSE 3,"), 5, false},
        {"AID answering the query", 3, sentence("AIAID,992351000,1,111111111,0"), 3, false},
        {"AAR message 21 after the others", 13,
         sentence("ANAAR,992351000,6,1,,,-1,,,,,-1,") +
             sentence("ANAAR,992351000,8,1,,,-1,,,,,-1,") +
             sentence("ANAAR,992351000,12,1,,,-1,,,,,-1,") + sentence("ANAAR,992351000,21,2"),
         9, true},
        {"AAR message 21 with message 8's line lost", 13,
         sentence("ANAAR,992351000,6,1,,,-1,,,,,-1,") +
             sentence("ANAAR,992351000,12,1,,,-1,,,,,-1,") + sentence("ANAAR,992351000,21,2"),
         13, false},
        {"AAR message 21 other index", 13, sentence("ANAAR,992351000,21,1"), 13, false},
        {"NAK", 19, sentence("ANNAK,AI,MEB,992351000,3"), 19, false},
        {"TXT exiting standby", 16, sentence("ANTXT,1,1,80,Exiting standby"), 16, true},
    };
    for (const ReplyCase& c : cases) {
        stais.caar_mensajes = 0;
        stais.ccomando = c.before;
        stais.cesperando_respuesta = 1;
        stais.cconexion_software_pc = 0;
        burst(c.sentence);
        EXPECT_EQ(c.after, stais.ccomando) << c.description;
        EXPECT_EQ(c.clears_wait, stais.cesperando_respuesta == 0) << c.description;
        EXPECT_EQ(0, stais.cconexion_software_pc) << c.description;
    }
}

TEST_F(AisLinkTest, ReplyValuesAndTheirConsoleLines) {
    stais.cextraigo = 1;
    const struct {
        std::string sentence;
        std::string printed;
    } cases[] = {
        {sentence("PSMT,1,vin,6,12345"), "\r\n\tV ais:12.34\r\n"},
        {sentence("PSMT,1,vswr,5,15"), "\r\n\tROE level:01.5\r\n"},
        {sentence("PSMT,2,appver,1,2.1.7,extra"), "\r\n\tFirmware:2.1.7,extra\r\n"},
        {sentence("PSMT,2,getserno,4,0123456789ABCDEFGH"), "\r\n\tSN:0123456789ABCDEF\r\n"},
        {sentence("ANMCR,992351000,MSS,1"), "\r\n\tError detected in the configuration\r\n"},
        {sentence("ANTXT,1,1,62,No data in buffer msg 08"), "\r\n\tNo data in buffer msg 08\r\n"},
    };
    for (const auto& c : cases) {
        stais.ccomando = 1;
        burst(c.sentence);
        EXPECT_EQ(c.printed, usb()) << c.sentence;
    }
    EXPECT_EQ(1234, stais.ibateria);
    EXPECT_EQ(15, stais.iq);
    EXPECT_EQ(0, stais.itimeout_tx_msg8);
}

TEST_F(AisLinkTest, AceStoresTheNamePaddedWithAtSigns) {
    stais.ccomando = 4;
    burst(sentence("ANACE,992351000,,,,,,LIGHTHOUSE 3,"));
    EXPECT_EQ("LIGHTHOUSE 3" + std::string(23, '@'),
              std::string(reinterpret_cast<const char*>(stais.cnombre_ais), 35));
}

TEST_F(AisLinkTest, BothConfigurationChecksLeadToTheAtonType) {
    stais.ccomando = 6;
    burst(sentence("ANMCR,992351000,SBS,0"));
    EXPECT_EQ(6, stais.ccomando);
    EXPECT_EQ("\tBit status => OK\r\n", usb()) << "printed in every mode";
    burst(sentence("ANMCR,992351000,MSS,0"));
    EXPECT_EQ(0x11, stais.cresultados_configuracion);
    EXPECT_EQ(8, stais.ccomando);
}

TEST_F(AisLinkTest, ReportingIntervalsFromAar) {
    const struct {
        std::string body;
        uint16_t period8;
        uint8_t protocol8;
    } cases[] = {
        {"ANAAR,992351000,8,1,,,0,6750,0,,,0,6750", 90, 0},
        {"ANAAR,992351000,8,1,,,0,360,1,,,0,360", 180, 1},
        {"ANAAR,992351000,8,1,,,-1,360,1,,,0,360", 0, 0},
        {"ANAAR,992351000,8,1,,,0,360,1,,,0,361", 0, 0},
    };
    for (const auto& c : cases) {
        stais.ccomando = 13;
        stais.ifrecuencia_msg8 = 0;
        stais.cprotocolo_msg8 = 0;
        burst(sentence(c.body));
        EXPECT_EQ(c.period8, stais.ifrecuencia_msg8) << c.body;
        EXPECT_EQ(c.protocol8, stais.cprotocolo_msg8) << c.body;
        EXPECT_EQ(13, stais.ccomando) << "intervals do not move the step";
    }
    burst(sentence("ANAAR,992351000,6,1,,,0,2700,0,,,0,2700") +
          sentence("ANAAR,992351000,12,1,,,-1,,,,,-1,") + sentence("ANAAR,992351000,21,2"));
    EXPECT_EQ(36, stais.ifrecuencia_msg6);
    EXPECT_EQ(15, stais.ccomando) << "message 6 needs its destination first";
}

TEST_F(AisLinkTest, UnaskedRepliesAreEvidenceOfAPcProgram) {
    stais.ccomando = 0;
    burst(sentence("ANACF,992351000"));
    EXPECT_EQ(1, stais.cconexion_software_pc);
    EXPECT_EQ(14, stais.ccomando);
    stais.csegundos_sin_tramas_deteccion_usb = 50;
    burst(sentence("ANMCR,992351000,SBS,1"));
    EXPECT_EQ(0, stais.csegundos_sin_tramas_deteccion_usb);
    stais.cconexion_software_pc = 0;
    stais.ccomando = 0;
    burst(sentence("AIAID,992351000,1,111111111,0"));
    EXPECT_EQ(1, stais.cconexion_software_pc) << "an AID the station did not ask for";
}

TEST_F(AisLinkTest, AidFillsTheMmsisOnce) {
    stais.lmmsi = kUnknown;
    stais.ccomando = 3;
    burst(sentence("AIAID,992351000,1,235040000,0"));
    EXPECT_EQ(kMmsi, stais.lmmsi);
    EXPECT_EQ(235040000u, stais.lmmsi_destino_msg6);
    burst(sentence("AIAID,111,1,222,0"));
    EXPECT_EQ(kMmsi, stais.lmmsi);
    EXPECT_EQ(235040000u, stais.lmmsi_destino_msg6);
}

TEST_F(AisLinkTest, RestartPowerCyclesTheTransponderAndRaisesTheAlarmCount) {
    configuracion_ais.csalida_reset = 2;
    configuracion_ktr09.itemporizacion_salida_digital[1] = 30;
    stais.cextraigo = 1;
    stais.ccomando = 0;
    inicializacion_ais(0);
    EXPECT_EQ(1, ktr09.cestado_salida_digital[1]);
    EXPECT_EQ(30, ktr09.itiempo_activacion_salida_digital[1]);
    EXPECT_EQ(1, stais.cseguridad_alarma);
    EXPECT_EQ("\tAIS => Alarm possible: 1", usb());
    EXPECT_EQ(3, stais.ccomando);
    EXPECT_EQ(kUnknown, stais.lmmsi);
    EXPECT_EQ(10, stais.cminutos_timeout_rx_frames);
    EXPECT_TRUE(host::uart_status(0).open);
}

}  // namespace
