#include "tests/support/PanelOnFakePort.h"
#include <cstring>
#include <ostream>
#include "protocol/Transaction.h"
#include "res/resource.h"
#include "tests/support/DialogReading.h"
#include "tests/support/ModalRunner.h"

namespace {

bool WaitCursorShown() {
    return ::GetCursor() == ::LoadCursorW(nullptr, IDC_WAIT);
}

template <class T>
std::vector<T> Since(const std::vector<T>& all, size_t index) {
    return {all.begin() + std::min(index, all.size()), all.end()};
}

} // namespace

void PrintTo(const Box& box, std::ostream* os) {
    std::string text(box.text.begin(), box.text.end());
    std::string caption(box.caption.begin(), box.caption.end());
    *os << "{\"" << text << "\", \"" << caption << "\", 0x" << std::hex << box.type << std::dec
        << "}";
}

Box ErrorBox(const wchar_t* text) {
    return {text, L"Error", MB_OK | MB_ICONHAND};
}

Box InformationBox(const wchar_t* text) {
    return {text, L"Information", MB_OK | MB_ICONINFORMATION};
}

std::string FrameOf(char address, const char* command, const char* argument) {
    return std::string("@@") + address + command + argument;
}

void PanelOnFakePort::SetUp() {
    g_bConnected = 0;
    g_txLength = 0;
    std::memset(g_reply, 0, sizeof g_reply);
    ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
    // A monitor operation keeps the hourglass up over every port call and every wait it makes.
    port.onCall = [this](const std::string&) {
        if (!WaitCursorShown())
            ++callsWithoutWaitCursor;
    };
    clock.onSleep = [this](DWORD) {
        if (!WaitCursorShown())
            ++sleepsWithoutWaitCursor;
    };
}

void PanelOnFakePort::TearDown() {
    g_bConnected = 0;
    panel.m_serial.Close();
}

void PanelOnFakePort::WithPanel(const std::function<void()>& body) {
    RunModal(panel, body);
}

std::wstring PanelOnFakePort::Text(int id) const {
    return TextOf(Item(id));
}

void PanelOnFakePort::Click(int id) const {
    // Wine's buttons take BM_CLICK even when disabled; the operator's mouse cannot.
    if (::IsWindowEnabled(Item(id)))
        ::SendMessageW(Item(id), BM_CLICK, 0, 0);
}

std::vector<int> PanelOnFakePort::CheckedSources() const {
    std::vector<int> checked;
    for (int i = 0; i < 4; ++i)
        if (::SendMessageW(Item(SOURCE_BUTTONS[i]), BM_GETCHECK, 0, 0) == BST_CHECKED)
            checked.push_back(i);
    return checked;
}

std::vector<bool> PanelOnFakePort::OperationButtons() const {
    std::vector<bool> enabled;
    for (int id : OPERATION_BUTTONS)
        enabled.push_back(::IsWindowEnabled(Item(id)) != FALSE);
    return enabled;
}

void PanelOnFakePort::QueueConnectAnswers() {
    port.answers.push_back({"001!"});
    port.answers.push_back({"HD2!"});
    port.answers.push_back({"SOK!"});
    port.answers.push_back({"FV1.02!"});
}

void PanelOnFakePort::Connect() {
    QueueConnectAnswers();
    Click(IDC_CONNECT);
    ASSERT_EQ(g_bConnected, 1) << "the connect did not complete";
    ASSERT_EQ(Text(IDC_CONNECT), L"Disconnect");
    ASSERT_TRUE(port.answers.empty());
    m_framesBefore = port.frames.size();
    m_boxesBefore = boxes.boxes.size();
    m_sleepsBefore = clock.sleeps.size();
    callsWithoutWaitCursor = 0;
    sleepsWithoutWaitCursor = 0;
}

std::vector<std::string> PanelOnFakePort::Frames() const {
    return Since(port.frames, m_framesBefore);
}

std::vector<ULONGLONG> PanelOnFakePort::FrameTimes() const {
    return Since(port.frameTimes, m_framesBefore);
}

std::vector<Box> PanelOnFakePort::Boxes() const {
    std::vector<Box> seen;
    for (const MessageBoxCall& call : Since(boxes.boxes, m_boxesBefore))
        seen.push_back({call.text, call.caption, call.type});
    return seen;
}

std::vector<DWORD> PanelOnFakePort::Sleeps() const {
    return Since(clock.sleeps, m_sleepsBefore);
}

bool PanelOnFakePort::ReplyCleared() {
    static const BYTE zeros[6] = {};
    return std::memcmp(g_reply, zeros, 6) == 0;
}
