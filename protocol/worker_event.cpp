#include "protocol/worker_event.h"

#include "text/number_text.h"

size_t formatWorkerEvent(const WorkerEvent& event, char* out, size_t size) {
    TextBuilder text(out, size);
    switch (event.kind) {
    case WorkerEventKind::serialOpen:
        text.append("open serial (");
        text.append(event.comPort);
        text.append(") : ");
        text.append(event.opened ? " success" : " error");
        break;
    case WorkerEventKind::lanOpen:
        text.append("OpenSocket port(");
        text.appendInteger(event.lanPort);
        text.append(") : ");
        text.append(event.opened ? "success" : "error");
        break;
    case WorkerEventKind::featureEnabled:
        text.append(event.feature == WorkerFeature::lan         ? "enable lan"
                    : event.feature == WorkerFeature::webSocket ? "enable websocket"
                                                                : "enable mouse");
        break;
    case WorkerEventKind::portWriteFailed:
        text.append("WritePort error");
        break;
    case WorkerEventKind::portReadFailed:
        text.append("ReadPort error");
        break;
    case WorkerEventKind::socketReadFailed:
        text.append("ReadSocket error");
        break;
    case WorkerEventKind::socketWriteFailed:
        text.append("WriteSocket error");
        break;
    case WorkerEventKind::restart:
        text.append("Restart....");
        break;
    }
    return text.length;
}

bool workerEventRepaints(const WorkerEvent& event) {
    switch (event.kind) {
    case WorkerEventKind::serialOpen:
    case WorkerEventKind::lanOpen:
    case WorkerEventKind::featureEnabled:
    case WorkerEventKind::restart:
        return true;
    default:
        return false;
    }
}
