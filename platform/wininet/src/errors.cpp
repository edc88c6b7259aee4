// WinINet's error codes: texts for FormatMessageW and the mapping from libcurl results.
#include "internal.h"

#include <mutex>

#include "platform/lasterror.h"

namespace wininet {

void RegisterTexts() {
    static std::once_flag once;
    std::call_once(once, [] {
        static const struct {
            DWORD code;
            const wchar_t* text;
        } texts[] = {
            {ERROR_INTERNET_OUT_OF_HANDLES, L"No more Internet handles could be allocated\r\n"},
            {ERROR_INTERNET_TIMEOUT, L"The operation timed out\r\n"},
            {ERROR_INTERNET_EXTENDED_ERROR, L"The server returned extended information\r\n"},
            {ERROR_INTERNET_INTERNAL_ERROR, L"An internal error occurred in the Internet extensions\r\n"},
            {ERROR_INTERNET_INVALID_URL, L"The URL is invalid\r\n"},
            {ERROR_INTERNET_UNRECOGNIZED_SCHEME, L"The URL does not use a recognized protocol\r\n"},
            {ERROR_INTERNET_NAME_NOT_RESOLVED, L"The server name or address could not be resolved\r\n"},
            {ERROR_INTERNET_INVALID_OPTION, L"The option is invalid\r\n"},
            {ERROR_INTERNET_BAD_OPTION_LENGTH, L"The length of an option is incorrect for the type of option\r\n"},
            {ERROR_INTERNET_OPTION_NOT_SETTABLE, L"The option value cannot be set\r\n"},
            {ERROR_INTERNET_SHUTDOWN, L"Internet support is being shut down\r\n"},
            {ERROR_INTERNET_INVALID_OPERATION, L"The operation is invalid\r\n"},
            {ERROR_INTERNET_OPERATION_CANCELLED, L"The operation was canceled\r\n"},
            {ERROR_INTERNET_INCORRECT_HANDLE_TYPE, L"The type of handle supplied is incorrect for this operation\r\n"},
            {ERROR_INTERNET_INCORRECT_HANDLE_STATE,
             L"The requested operation cannot be carried out because the handle supplied is not in the correct "
             L"state\r\n"},
            {ERROR_INTERNET_CANNOT_CONNECT, L"A connection with the server could not be established\r\n"},
            {ERROR_INTERNET_CONNECTION_ABORTED, L"The connection with the server was terminated abnormally\r\n"},
            {ERROR_INTERNET_CONNECTION_RESET, L"The connection with the server was reset\r\n"},
            {ERROR_INTERNET_SEC_CERT_DATE_INVALID, L"The server's security certificate has expired\r\n"},
            {ERROR_INTERNET_SEC_CERT_CN_INVALID, L"The server's security certificate names another host\r\n"},
            {ERROR_INTERNET_INVALID_CA, L"The server's security certificate is not trusted\r\n"},
            {ERROR_HTTP_HEADER_NOT_FOUND, L"The requested header could not be located\r\n"},
            {ERROR_HTTP_INVALID_SERVER_RESPONSE, L"The server response could not be parsed\r\n"},
            {ERROR_HTTP_INVALID_QUERY_REQUEST, L"The request made to query the header is invalid\r\n"},
            {ERROR_HTTP_REDIRECT_FAILED, L"The redirection failed\r\n"},
            {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, L"An error occurred in the secure channel support\r\n"},
            {ERROR_INTERNET_DECODING_FAILED, L"The content of the answer could not be decoded\r\n"},
            {ERROR_NOT_CONNECTED, L"This network connection does not exist.\r\n"},
        };
        for (const auto& t : texts) platform::RegisterErrorText(t.code, t.text);
    });
}

DWORD MapCurlResult(CURLcode code, bool inBody, bool async) {
    switch (code) {
    case CURLE_OK:
        return 0;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT:
        return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
        return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
        return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
        return ERROR_INTERNET_TIMEOUT;
    case CURLE_SSL_CONNECT_ERROR:
        return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        return ERROR_INTERNET_INVALID_CA;
    case CURLE_TOO_MANY_REDIRECTS:
        return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_BAD_CONTENT_ENCODING:
        return ERROR_INTERNET_DECODING_FAILED;
    case CURLE_OUT_OF_MEMORY:
        // curl also says this of a header line too long to keep.
        return inBody ? ERROR_NOT_ENOUGH_MEMORY : ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_ABORTED_BY_CALLBACK:
        return ERROR_INTERNET_OPERATION_CANCELLED;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_WRITE_ERROR:  // our header callback refused an oversized header block
        return inBody ? (async ? ERROR_NOT_CONNECTED : ERROR_INTERNET_CONNECTION_ABORTED)
                      : ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        // A stream reconnects on "not connected"; a download reports the lost connection.
        if (inBody) return async ? ERROR_NOT_CONNECTED : ERROR_INTERNET_CONNECTION_ABORTED;
        return ERROR_INTERNET_CONNECTION_RESET;
    default:
        return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

}  // namespace wininet
