#pragma once
// unplotd's HTTP endpoints, kept thin: read the request, call the service, write its reply.

namespace httplib {
class Server;
}

namespace unplot::server {

class ConversionService;

// Registers the endpoints, the JSON error replies and the request log on `http`.
void registerRoutes(httplib::Server& http, ConversionService& service);

}  // namespace unplot::server
