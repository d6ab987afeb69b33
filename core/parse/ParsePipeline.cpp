#include "parse/ParsePipeline.h"

#include "parse/Libxml.h"

#include <libxml/parser.h>

ParsePipeline::ParsePipeline(_xmlParserCtxt* context)
    : context_(context), previous_(context->_private) {
    context->_private = this;
}

ParsePipeline::~ParsePipeline() {
    context_->_private = previous_;
}

void ParsePipeline::fail(std::exception_ptr failure) noexcept {
    if (!failure_)
        failure_ = std::move(failure);
    libxml::StopParse(context_);
}

void ParsePipeline::rethrow() {
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
}
