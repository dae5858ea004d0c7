#include "sim/slave.h"

namespace {

const int server_device_failure = 4;

}  // namespace

Response respond(Framing transport, const uint8_t* frame, std::size_t length, int unit,
                 RegisterMap& map, FaultPlan& plan) {
    Response response;
    const std::size_t header = headerLength(transport);
    const std::size_t trailer = transport == Framing::rtu ? 2 : 0;
    if (length < header + trailer + 1) {
        response.ignored = true;
        return response;
    }
    const int to = frame[header - 1];
    response.broadcast = transport == Framing::rtu && to == 0;
    if (unit >= 0 && to != unit && !response.broadcast) {
        response.ignored = true;
        return response;
    }
    const uint8_t* pdu = frame + header;
    const std::size_t pdu_length = length - header - trailer;
    if (response.broadcast) {
        response.exception = answerRequest(pdu, pdu_length, map).exception;
        return response;
    }
    response.fault = plan.next();
    switch (response.fault) {
        case Fault::silent:
            return response;
        case Fault::close:
            // A serial line cannot be dropped: the slave just stays silent.
            response.close = transport == Framing::tcp;
            return response;
        case Fault::exception:
            response.exception = server_device_failure;
            response.frame =
                frameReply(transport, frame, to, exceptionPdu(pdu[0], server_device_failure));
            return response;
        case Fault::late:
        case Fault::trickle:
            response.delay_ms = plan.delay_ms;
            break;
        default:
            break;
    }
    Answer answer = answerRequest(pdu, pdu_length, map);
    response.exception = answer.exception;
    response.frame = faultyReply(response.fault, transport, frame, to, std::move(answer.pdu));
    return response;
}
