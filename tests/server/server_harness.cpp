#include "server_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/clock.h"
#include "protocol/record_kinds.h"
#include "protocol/text.h"
#include "server/config/engine_log.h"
#include "server/core/server_globals.h"
#include "server/core/server_process.h"

namespace harness {

namespace {

std::atomic<uint32_t> fakeTicks{5000000};
uint32_t fakeTickSource() { return fakeTicks.load(); }

int consoleInputFd = -1;

// The server reads its console from fd 0: a pipe that stays open for the whole process.
void ensureConsoleInput() {
    if (consoleInputFd >= 0)
        return;
    int fds[2];
    if (pipe(fds) != 0)
        std::abort();
    dup2(fds[0], 0);
    close(fds[0]);
    consoleInputFd = fds[1];
}

std::string readAll(int fd, size_t from) {
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = pread(fd, buffer, sizeof buffer, static_cast<off_t>(from + text.size()));
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

}  // namespace

void setClock(uint32_t ms) { fakeTicks.store(ms); }
void advanceClock(uint32_t ms) { fakeTicks.fetch_add(ms); }
uint32_t clockNow() { return fakeTicks.load(); }

void typeLine(const std::string& line) {
    ensureConsoleInput();
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(consoleInputFd, text.data() + done, text.size() - done);
        if (n <= 0)
            std::abort();
        done += static_cast<size_t>(n);
    }
}

unsigned short freePort() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

int Received::id() const { return protocol::packetIdentifier(bytes.data(), bytes.size()); }

SystemAddress Received::origin() const {
    KSTMP::FakeAddress address;
    if (bytes.size() >= 26)
        std::memcpy(static_cast<void*>(&address), bytes.data() + 18, sizeof address);
    return address.toSystemAddress();
}

int occurrences(const std::string& text, const std::string& needle) {
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

Client::Client(unsigned short serverPort) : peer(RakNetworkFactory::GetRakPeerInterface()) {
    SocketDescriptor socket(0, "127.0.0.1");
    if (!peer->Startup(1, 30, &socket, 1))
        ADD_FAILURE() << "client peer did not start";
    server = SystemAddress();
    server.SetBinaryAddress("127.0.0.1");
    server.port = serverPort;
    if (!peer->Connect("127.0.0.1", serverPort, "", 0))
        ADD_FAILURE() << "client connect did not start";
}

Client::~Client() {
    peer->Shutdown(0);
    RakNetworkFactory::DestroyRakPeerInterface(peer);
}

SystemAddress Client::address() const { return peer->GetExternalID(server); }

void Client::sendBytes(const void* data, size_t length) {
    peer->Send(static_cast<const char*>(data), static_cast<int>(length), HIGH_PRIORITY, RELIABLE_ORDERED, 0, server,
               false);
}

void Client::send(const KSTMP::BaseCommand& record) { sendBytes(&record, static_cast<size_t>(record.size)); }

void Client::notify(int code, int param) {
    KSTMP::Notifier notifier;
    notifier.code = code;
    notifier.param = param;
    send(notifier);
}

void Client::poll() {
    while (Packet* packet = peer->Receive()) {
        const unsigned char first = packet->length > 0 ? packet->data[0] : 255;
        if (first == ID_CONNECTION_REQUEST_ACCEPTED)
            connected = true;
        else if (first == ID_CONNECTION_BANNED || first == ID_NO_FREE_INCOMING_CONNECTIONS ||
                 first == ID_CONNECTION_ATTEMPT_FAILED)
            refused = true;
        else if (first == ID_TIMESTAMP || first >= ID_USER_PACKET_ENUM)
            inbox.push_back(Received{std::vector<unsigned char>(packet->data, packet->data + packet->length)});
        peer->DeallocatePacket(packet);
    }
}

int Client::count(int id) const {
    return static_cast<int>(std::count_if(inbox.begin(), inbox.end(), [id](const Received& r) { return r.id() == id; }));
}

std::vector<Received> Client::records(int id) const {
    std::vector<Received> found;
    for (const Received& r : inbox)
        if (r.id() == id)
            found.push_back(r);
    return found;
}

std::vector<KSTMP::Notifier> Client::notifiers(int code) const {
    std::vector<KSTMP::Notifier> found;
    for (const Received& r : records(KSTMP::cmd_notifier)) {
        KSTMP::Notifier n = r.as<KSTMP::Notifier>();
        if (n.code == code)
            found.push_back(n);
    }
    return found;
}

void ServerTest::SetUp() {
    static bool clockInstalled = false;
    if (!clockInstalled) {
        platform::setTickSource(&fakeTickSource);
        clockInstalled = true;
    }
    ensureConsoleInput();
    setClock(5000000);
    char pattern[] = "/tmp/pw-server-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    folder = root + "/srv";
    std::filesystem::create_directories(folder + "/logins");
    originalDirectory = std::filesystem::current_path().string();
    // Lock files of this process stay in a folder of its own (the variable is read once).
    static const std::string lockFolder = [] {
        const std::string path = "/tmp/pw-server-test-locks-" + std::to_string(getpid());
        setenv("PORTWARDEN_LOCK_DIR", path.c_str(), 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all("/tmp/pw-server-test-locks-" + std::to_string(getpid()), ignored);
        });
        return path;
    }();

    std::fflush(stdout);
    savedStdout = dup(1);
    captureFd = open((root + "/console.txt").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_APPEND, 0644);
    ASSERT_GE(captureFd, 0);
    dup2(captureFd, 1);
    consoleOffset = 0;
}

void ServerTest::TearDown() {
    clients.clear();
    if (started && rakPeer != nullptr)
        serverShutdown();
    EngineLog::instance().close();
    std::fflush(stdout);
    dup2(savedStdout, 1);
    close(savedStdout);
    if (HasFailure()) {
        const std::string text = readAll(captureFd, 0);
        std::fprintf(stderr, "---- server console ----\n%s\n---- end of console ----\n", text.c_str());
    }
    close(captureFd);
    std::filesystem::current_path(originalDirectory);
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

void ServerTest::startServer(const std::string& serverConfigLines, const std::string& extra) {
    port = freePort();
    std::ofstream config(folder + "/serverconfig.txt");
    config << "ServerConfig\n{\n    port = " << port << "\n" << serverConfigLines << "\n}\n" << extra << "\n";
    config.close();
    const int status = serverStartup((folder + "/portwarden").c_str());
    ASSERT_EQ(status, -1) << "the server did not start";
    started = true;
}

bool ServerTest::pass() {
    if (loopEnded)
        return false;
    const bool more = serverPass();
    if (!more)
        loopEnded = true;
    for (auto& client : clients)
        client->poll();
    return more;
}

bool ServerTest::pumpUntil(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < limit) {
        if (done())
            return true;
        if (!pass() && !done())
            return false;
    }
    return done();
}

void ServerTest::settle(int passes) {
    for (int i = 0; i < passes; ++i) {
        pass();
        usleep(1000);
    }
}

Client& ServerTest::connect() {
    clients.push_back(std::make_unique<Client>(port));
    Client& client = *clients.back();
    EXPECT_TRUE(pumpUntil([&] { return client.connected && client.count(KSTMP::cmd_game_type) > 0; }))
        << "client did not connect";
    return client;
}

Client& ServerTest::join(const std::string& name) {
    Client& client = connect();
    KSTMP::PlayerInfo info;
    protocol::writeText(info.name, name);
    client.send(info);
    EXPECT_TRUE(pumpUntil([&] { return !client.notifiers(KSTMP::ntf_team_id).empty(); })) << name << " got no team";
    return client;
}

std::string ServerTest::console() {
    std::fflush(stdout);
    const std::string text = readAll(captureFd, consoleOffset);
    consoleOffset += text.size();
    return text;
}

}  // namespace harness
