#include "phoneengine.h"

#include "link/link.h"
#include "link/linktrace.h"
#include "link/serialport.h"

namespace x45::ui {

PhoneEngine::PhoneEngine(PortMaker makePort) : makePort_(std::move(makePort)) {}

PhoneEngine::~PhoneEngine() {
    // The transfer and the session refer to the link, the link to the port and the trace.
    transfer_.reset();
    session_.reset();
    link_.reset();
    port_.reset();
}

void PhoneEngine::open() {
    port_ = makePort_();
    trace_ = std::make_unique<LinkTrace>(); // records from the first "Init" on
    link_ = std::make_unique<Link>(*port_);
    link_->setTrace(trace_.get());
    session_ = std::make_unique<Session>(*link_, static_cast<Interaction&>(*this));
    transfer_ = std::make_unique<PhoneTransfer>(*session_);
    // Copies: the session's records stay on this thread.
    connect(session_.get(), &Session::identified, this,
            [this] { emit identified(session_->identity); });
    connect(session_.get(), &Session::spaceChanged, this,
            [this] { emit spaceChanged(session_->EEliteSpace, session_->EEfullSpace); });
}

// ---- Operations ---------------------------------------------------------------------------------

void PhoneEngine::start(const QString& device) {
    trace_->restart();
    // The start's own failure messages are warnings.
    plainIcon_ = Icon::Exclamation;
    EngineReport report{.operation = PhoneOperation::Start};
    report.start = session_->start(device);
    plainIcon_ = Icon::None;
    finish(std::move(report));
}

void PhoneEngine::end() {
    session_->end();
    finish(EngineReport{.operation = PhoneOperation::End});
}

void PhoneEngine::loadAll(bool verify) {
    EngineReport report{.operation = PhoneOperation::LoadAll};
    transfer_->setVerify(verify);
    report.run = transfer_->loadAll(report.phoneList);
    finishRun(std::move(report));
}

void PhoneEngine::loadCustom(BlockList phoneList, bool verify) {
    EngineReport report{.operation = PhoneOperation::LoadCustom};
    report.phoneList = std::move(phoneList);
    transfer_->setVerify(verify);
    report.run = transfer_->loadCustom(report.phoneList);
    finishRun(std::move(report));
}

void PhoneEngine::saveAll(const BlockList& phoneList, const HWidRule& rule, bool verify) {
    EngineReport report{.operation = PhoneOperation::SaveAll};
    transfer_->setVerify(verify);
    report.run = transfer_->saveAll(phoneList, rule);
    finishRun(std::move(report));
}

void PhoneEngine::saveSelected(const BlockList& phoneList, const QSet<int>& rows,
                               const HWidRule& rule, bool verify) {
    EngineReport report{.operation = PhoneOperation::SaveSelected};
    transfer_->setVerify(verify);
    report.run = transfer_->saveSelected(
        phoneList, [&rows](int row) { return rows.contains(row); }, int(rows.size()), rule);
    finishRun(std::move(report));
}

void PhoneEngine::deleteDirectly(const BlockList& phoneList, const QList<int>& rows) {
    EngineReport report{.operation = PhoneOperation::Delete};
    report.run = transfer_->deleteDirectly(
        phoneList, rows, [&report](const QVector<qint16>& ids) { report.deleted = ids; });
    finishRun(std::move(report));
}

QByteArray PhoneEngine::traceText() const {
    return trace_->text();
}

void PhoneEngine::finishRun(EngineReport report) {
    // The phone is gone (the person has been told): the session cannot go on.
    if (report.run.end == Outcome::PortLost) session_->end();
    finish(std::move(report));
}

void PhoneEngine::finish(EngineReport report) {
    report.sessionOpen = session_->isOpen();
    report.traceHeld = trace_->started() && !trace_->isEmpty();
    emit finished(report);
}

// ---- Stop and questions -------------------------------------------------------------------------

void PhoneEngine::requestStop() {
    stopWanted_ = true;
    passOnStop();
}

void PhoneEngine::passOnStop() {
    session_->stopRequest().request();
    transfer_->stopRequest().request();
}

void PhoneEngine::closeQuestions() {
    const std::lock_guard lock(questionMutex_);
    questionsClosed_ = true;
    if (asking_) asking_->give(closingAnswer(asking_->question()));
}

Answer PhoneEngine::ask(Question question) {
    auto pending = std::make_shared<PendingAnswer>(std::move(question));
    {
        const std::lock_guard lock(questionMutex_);
        if (questionsClosed_) return closingAnswer(pending->question());
        asking_ = pending;
    }
    emit questionAsked(pending);
    Answer answer = pending->wait();
    const std::lock_guard lock(questionMutex_);
    asking_.reset();
    return answer;
}

Button PhoneEngine::message(const QString& text, const QString& title, Buttons buttons, Icon icon,
                            Button defaultButton) {
    return ask({.kind = Question::Kind::Message,
                .text = text,
                .title = title,
                .buttons = buttons,
                .icon = icon == Icon::None ? plainIcon_ : icon,
                .defaultButton = defaultButton})
        .button;
}

bool PhoneEngine::askYesNo(YesNoQuestion question, const QString& text, const QString& title,
                           Icon icon) {
    return ask({.kind = Question::Kind::YesNo,
                .text = text,
                .title = title,
                .icon = icon,
                .yesNo = question})
               .button == Button::Yes;
}

RewriteAnswer PhoneEngine::askRewrite(const QString& question) {
    return ask({.kind = Question::Kind::Rewrite, .text = question}).rewrite;
}

QString PhoneEngine::askBlockList() {
    return ask({.kind = Question::Kind::BlockList}).blockList;
}

BlockInfoTexts PhoneEngine::askBlockInfo(const QString& message) {
    return ask({.kind = Question::Kind::BlockInfo, .text = message}).blockInfo;
}

// ---- What the operation shows -------------------------------------------------------------------

void PhoneEngine::setStatus(const QString& text) {
    if (stopWanted_) passOnStop();
    emit statusChanged(text);
}

void PhoneEngine::setProgressRange(int minimum, int maximum) {
    if (stopWanted_) passOnStop();
    emit progressRangeChanged(minimum, maximum);
}

void PhoneEngine::setProgressValue(int value) {
    if (stopWanted_) passOnStop();
    emit progressChanged(value);
}

void PhoneEngine::setBusy(bool busy) {
    emit busyChanged(busy);
}

void PhoneEngine::setProgressDetail(const ProgressDetail& detail) {
    if (stopWanted_) passOnStop();
    emit paceChanged(detail);
}

// ---- The thread ---------------------------------------------------------------------------------

EngineThread::EngineThread(PhoneEngine::PortMaker makePort)
    : engine_(new PhoneEngine(std::move(makePort))) {
    thread_.setObjectName(QStringLiteral("x45eep phone"));
    engine_->moveToThread(&thread_);
    thread_.start();
    // The window waits here only for the objects to be made: nothing else runs there yet.
    QMetaObject::invokeMethod(engine_, &PhoneEngine::open, Qt::BlockingQueuedConnection);
}

EngineThread::~EngineThread() {
    engine_->closeQuestions();
    engine_->requestStop();
    // After the operation running now, whose waits are bounded; then the thread ends.
    QMetaObject::invokeMethod(
        engine_,
        [engine = engine_] {
            delete engine;
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    thread_.wait();
}

void EngineThread::post(std::function<void(PhoneEngine&)> work) {
    engine_->clearStop();
    QMetaObject::invokeMethod(
        engine_, [engine = engine_, work = std::move(work)] { work(*engine); },
        Qt::QueuedConnection);
}

QByteArray EngineThread::traceText() const {
    QByteArray text;
    QMetaObject::invokeMethod(
        engine_, [this, &text] { text = engine_->traceText(); }, Qt::BlockingQueuedConnection);
    return text;
}

} // namespace x45::ui
