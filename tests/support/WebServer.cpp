#include "support/WebServer.h"

#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "support/Eventually.h"
#include "support/LoopbackListener.h"

namespace CorvaneTest {

namespace {

// htpasswd -nbm alice secret: the format and hash the README's htpasswd makes.
const char kPasswordLine[] = "alice:$apr1$CpJn4UuP$dobUsmDAXED1lpfvjf9m6/\n";
// Where the drop-ins keep the gateway's working directory.
const char kStateDir[] = "/var/lib/corvane-gateway";

struct ServerFacts {
    const char* name;
    WebServerKind server;  // the web server itself
    const char* etc;      // the stock configuration
    const char* program;
    const char* helper;   // a second program it needs, or null
    const char* dropIn;   // in the source tree
    const char* target;   // where the package puts it, below etc
};

const ServerFacts& facts(WebServerKind kind) {
    using K = WebServerKind;
    static const ServerFacts table[] = {
        {"lighttpd", K::Lighttpd, "/etc/lighttpd", "/usr/sbin/lighttpd", nullptr,
         "deploy/lighttpd/05-corvane-gateway.conf", "conf-available/05-corvane-gateway.conf"},
        {"apache2", K::Apache, "/etc/apache2", "/usr/sbin/apache2", nullptr, "deploy/apache2/corvane-gateway.conf",
         "conf-available/corvane-gateway.conf"},
        {"nginx", K::Nginx, "/etc/nginx", "/usr/sbin/nginx", "/usr/sbin/fcgiwrap", "deploy/nginx/corvane-gateway.conf",
         "snippets/corvane-gateway.conf"},
        {"lighttpdFastCgi", K::Lighttpd, "/etc/lighttpd", "/usr/sbin/lighttpd", nullptr,
         "deploy/lighttpd/05-corvane-gateway-fastcgi.conf", "conf-available/05-corvane-gateway-fastcgi.conf"},
        {"apache2FastCgi", K::Apache, "/etc/apache2", "/usr/sbin/apache2", "/usr/bin/spawn-fcgi",
         "deploy/apache2/corvane-gateway-fastcgi.conf", "conf-available/corvane-gateway-fastcgi.conf"},
        {"nginxFastCgi", K::Nginx, "/etc/nginx", "/usr/sbin/nginx", "/usr/bin/spawn-fcgi",
         "deploy/nginx/corvane-gateway-fastcgi.conf", "snippets/corvane-gateway-fastcgi.conf"},
    };
    return table[static_cast<int>(kind)];
}

// Replaces every from by to; false when there is none.
bool replaceAll(std::string* text, const std::string& from, const std::string& to) {
    bool found = false;
    for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size())) {
        text->replace(at, from.size(), to);
        found = true;
    }
    return found;
}

bool writeFile(const std::string& path, const std::string& bytes) {
    ::unlink(path.c_str());  // a link into the stock tree is replaced, not followed
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out.flush());
}

// What a2enmod, a2enconf and lighty-enable-mod do: a link in *-enabled.
bool enable(const std::string& etc, const std::string& available, const std::string& enabled) {
    const std::string name = available.substr(available.rfind('/') + 1);
    return ::symlink(("../" + available).c_str(), (etc + "/" + enabled + "/" + name).c_str()) == 0 ||
           errno == EEXIST;  // from an earlier attempt
}

// The user the Debian services run as, when this process could switch to
// it; -1 otherwise, and then everything runs as this process's user.
struct ServiceUser {
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
    bool valid() const { return uid != static_cast<uid_t>(-1); }
};

ServiceUser serviceUser() {
    ServiceUser user;
    if (::geteuid() != 0)
        return user;
    if (const passwd* pw = ::getpwnam("www-data")) {
        user.uid = pw->pw_uid;
        user.gid = pw->pw_gid;
    }
    return user;
}

// Where the drop-in expects the helper's socket.
std::string helperSocket(WebServerKind kind) {
    return kind == WebServerKind::Nginx ? "/run/fcgiwrap.socket" : "/run/corvane-gateway.socket";
}

// A zombie still answers kill(pid, 0); its state letter does not lie.
bool hasExited(pid_t pid) {
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    return paren == std::string::npos || paren + 2 >= stat.size() || stat[paren + 2] == 'Z';
}

}  // namespace

WebServer::WebServer(WebServerKind kind, bool postOnly) : kind_(kind) {
    const ServerFacts& f = facts(kind);
    const ServiceUser user = serviceUser();
    const std::string state = stateDir();
    const std::string var = dir_.file("var");
    ::chmod(dir_.path().c_str(), 0755);  // the service user passes through
    for (const std::string& d : {var, var + "/lib", state, state + "/account", var + "/log", var + "/run"})
        ::mkdir(d.c_str(), 0755);
    ::chmod((state + "/account").c_str(), 0750);
    if (user.valid()) {
        for (const std::string& d : {state + "/account", var + "/log", var + "/run"})
            if (::chown(d.c_str(), user.uid, user.gid) != 0)
                fail("Could not hand " + d + " to www-data");
    }
    // The program is copied in where the package puts it: the service user
    // may not reach into the build tree (a clone in root's home, say).
    const std::string program = dir_.file("usr/bin/corvane-gateway");
    ProcessOptions quiet;
    quiet.env = {{"PATH", "/usr/bin:/bin"}};
    if (runProcess({"install", "-D", binPath("corvane-gateway"), program}, quiet).exitStatus != 0 ||
        ::symlink(program.c_str(), (state + "/corvane-gateway").c_str()) != 0)
        fail("Could not put the gateway into " + state);

    ::mkdir(dir_.file("etc").c_str(), 0755);
    etc_ = dir_.file("etc") + std::string(f.etc).substr(4);
    if (runProcess({"cp", "-RP", f.etc, dir_.file("etc")}, quiet).exitStatus != 0)  // links stay links
        fail(std::string("Could not copy ") + f.etc);

    // The drop-in as shipped, with its paths moved into this directory.
    std::string dropIn = readFile(sourcePath(f.dropIn));
    bool moved = replaceAll(&dropIn, kStateDir, state) && replaceAll(&dropIn, f.etc, etc_);
    if (f.helper)
        moved = moved && replaceAll(&dropIn, helperSocket(kind), var + helperSocket(kind));
    else if (kind == WebServerKind::LighttpdFastCgi)
        moved = moved && replaceAll(&dropIn, "/run/lighttpd/", var + "/run/");
    if (postOnly)
        moved = moved && replaceAll(&dropIn, "#POST-only ", "");
    if (!moved || !writeFile(etc_ + "/" + f.target, dropIn) ||
        !writeFile(etc_ + "/corvane-gateway.htpasswd", kPasswordLine))
        fail(std::string("Could not stage ") + f.dropIn);

    // A port taken between the probe and the server's bind is retried.
    for (int attempt = 0; attempt < 5 && error_.empty() && !started(); ++attempt) {
        bindWithoutListening(&port_);
        if (!stage(port_) || !startAndWait())
            port_ = 0;
    }
    if (!started() && error_.empty())
        fail("it did not answer");
}

WebServer::~WebServer() {
    server_.reset();
    helper_.reset();
    // lighttpd's FastCGI processes can outlive it (when it had to be
    // killed), holding this process's output open: they run the copy of
    // the program in this directory, and go with it.
    const std::string program = dir_.file("usr/bin/corvane-gateway");
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* entry = ::readdir(proc)) {
            char exe[4096];
            const std::string link = std::string("/proc/") + entry->d_name + "/exe";
            const ssize_t n = ::readlink(link.c_str(), exe, sizeof exe - 1);
            if (n > 0 && program == std::string(exe, static_cast<size_t>(n)))
                ::kill(std::atoi(entry->d_name), SIGKILL);
        }
        ::closedir(proc);
    }
}

const char* WebServer::name(WebServerKind kind) { return facts(kind).name; }

std::string WebServer::missing(WebServerKind kind) {
    const ServerFacts& f = facts(kind);
    for (const char* path : {f.program, f.helper, f.etc})
        if (path && ::access(path, F_OK) != 0)
            return std::string(path) + " is missing (scripts/install-deps.sh installs it)";
    return std::string();
}

std::string WebServer::http(const std::string& request) const {
    const ScopedFd fd = connectLoopback(port_);
    if (!fd.valid() || !sendAll(fd.get(), request))
        return std::string();
    return recvUpTo(fd.get(), std::string::npos, 10000);
}

bool WebServer::stage(int port) {
    const ServerFacts& f = facts(kind_);
    if (f.helper && !helper_) {
        const std::string socket = dir_.file("var") + helperSocket(kind_);
        if (kind_ == WebServerKind::Nginx) {
            if (!startHelper({f.helper, "-f", "-s", "unix:" + socket}, "/", socket))
                return false;
        } else if (!startHelper({f.helper, "-n", "-s", socket, "-d", stateDir(), "--", stateDir() + "/corvane-gateway"},
                                stateDir(), socket)) {
            return false;
        }
    }
    switch (f.server) {
    case WebServerKind::Lighttpd:
        return stageLighttpd(port);
    case WebServerKind::Apache:
        return stageApache(port);
    default:
        return stageNginx(port);
    }
}

// lighty-enable-mod corvane-gateway, with Debian's CGI module enabled too:
// the two must not clash.
bool WebServer::stageLighttpd(int port) {
    const std::string var = dir_.file("var");
    if (!enable(etc_, facts(kind_).target, "conf-enabled") || !enable(etc_, "conf-available/10-cgi.conf", "conf-enabled"))
        return fail("Could not enable the drop-in");
    argv_ = {facts(kind_).program, "-D", "-f", etc_ + "/lighttpd.conf"};
    options_.env = {{"PATH", "/usr/sbin:/usr/bin:/bin"}};
    return editStock("lighttpd.conf", "lighttpd.conf",
                     {{"/etc/lighttpd", etc_},
                      {"/var/www/html", dir_.path()},
                      {"server.port                 = 80",
                       "server.port = " + std::to_string(port) + "\nserver.bind = \"127.0.0.1\""},
                      {"include_shell \"/usr/share/lighttpd/use-ipv6.pl \" + server.port", ""},
                      {"/var/log/lighttpd", var + "/log"},
                      {"/run/lighttpd.pid", var + "/run/lighttpd.pid"},
                      {"/var/cache/lighttpd/uploads", var + "/run"}});
}

// a2enmod cgid, a2enconf corvane-gateway; the variables apache2ctl takes
// from envvars.
bool WebServer::stageApache(int port) {
    const std::string var = dir_.file("var");
    const bool fastCgi = kind_ == WebServerKind::ApacheFastCgi;
    if (!enable(etc_, facts(kind_).target, "conf-enabled") ||
        !enable(etc_, fastCgi ? "mods-available/proxy.load" : "mods-available/cgid.load", "mods-enabled") ||
        !enable(etc_, fastCgi ? "mods-available/proxy_fcgi.load" : "mods-available/cgid.conf", "mods-enabled"))
        return fail("Could not enable the drop-in and its modules");
    ::mkdir((var + "/run/socks").c_str(), 0755);
    argv_ = {facts(kind_).program, "-d", etc_, "-DFOREGROUND", "-C", "ServerName localhost"};
    options_.env = {{"PATH", "/usr/sbin:/usr/bin:/bin"},    {"LANG", "C"},
                    {"APACHE_RUN_USER", "www-data"},        {"APACHE_RUN_GROUP", "www-data"},
                    {"APACHE_PID_FILE", var + "/run/pid"},  {"APACHE_RUN_DIR", var + "/run"},
                    {"APACHE_LOCK_DIR", var + "/run"},      {"APACHE_LOG_DIR", var + "/log"}};
    return editStock("ports.conf", "ports.conf", {{"Listen 80\n", "Listen 127.0.0.1:" + std::to_string(port) + "\n"}}) &&
           editStock("apache2.conf", "apache2.conf", {{"<Directory /var/www/>", "<Directory " + dir_.path() + "/>"}}) &&
           editStock("sites-available/000-default.conf", "sites-available/000-default.conf",
                     {{"DocumentRoot /var/www/html", "DocumentRoot " + dir_.path()}});
}

// The snippet included in the default site; fcgiwrap run as its service
// runs it, from a directory other than the program's.
bool WebServer::stageNginx(int port) {
    const std::string var = dir_.file("var");
    const std::string snippet = std::string(facts(kind_).target).substr(std::string("snippets/").size());
    std::string temp;  // nginx's own request buffers, instead of /var/lib/nginx
    for (const char* kind : {"client_body", "fastcgi", "proxy", "uwsgi", "scgi"})
        temp += std::string("\t") + kind + "_temp_path " + var + "/run/" + kind + ";\n";
    argv_ = {facts(kind_).program, "-c", etc_ + "/nginx.conf", "-p", etc_, "-e", var + "/log/error.log",
             "-g", "daemon off;"};
    options_.env = {{"PATH", "/usr/sbin:/usr/bin:/bin"}};
    const std::string listen = "listen 127.0.0.1:" + std::to_string(port) + " default_server;";
    return editStock("nginx.conf", "nginx.conf",
                     {{"/etc/nginx", etc_},
                      {"/run/nginx.pid", var + "/run/nginx.pid"},
                      {"/var/log/nginx", var + "/log"},
                      {"http {\n", "http {\n" + temp}}) &&
           editStock("sites-available/default", "sites-enabled/default",
                     {{"listen 80 default_server;", listen},
                      {"root /var/www/html;", "root " + dir_.path() + ";"},
                      {"listen [::]:80 default_server;", ""},
                      {"server_name _;", "server_name _;\n\tinclude snippets/" + snippet + ";"}});
}

bool WebServer::startHelper(const std::vector<std::string>& argv, const std::string& dir, const std::string& socket) {
    ProcessOptions options;
    options.env = {{"PATH", "/usr/bin:/bin"}};
    options.cwd = dir;
    const ServiceUser user = serviceUser();
    if (user.valid())
        options.beforeExec = [user] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0)
                _exit(127);
        };
    helper_ = std::make_unique<ChildProcess>(argv, options);
    return eventually([&] { return ::access(socket.c_str(), F_OK) == 0; }) || fail(argv[0] + " made no socket");
}

bool WebServer::editStock(const std::string& relative, const std::string& target,
                          const std::vector<std::pair<std::string, std::string>>& edits) {
    const std::string stock = std::string(facts(kind_).etc) + "/" + relative;
    std::string text = readFile(stock);
    for (const auto& edit : edits)
        if (!replaceAll(&text, edit.first, edit.second))
            return fail("'" + edit.first + "' is not in " + stock);
    return writeFile(etc_ + "/" + target, text) || fail("Could not write " + target);
}

bool WebServer::startAndWait() {
    server_ = std::make_unique<ChildProcess>(argv_, options_);
    const pid_t pid = server_->pid();
    const bool answered = eventually([&] { return hasExited(pid) || !http("GET / HTTP/1.0\r\n\r\n").empty(); });
    if (answered && !hasExited(pid))
        return true;
    server_.reset();
    return false;
}

bool WebServer::fail(const std::string& text) {
    if (error_.empty())
        error_ = std::string(facts(kind_).name) + ": " + text + "\n" + readFile(dir_.file("var/log/error.log"));
    return false;
}

int httpStatus(const std::string& response) {
    if (response.compare(0, 5, "HTTP/") != 0 || response.find(' ') == std::string::npos)
        return 0;
    return std::atoi(response.c_str() + response.find(' ') + 1);
}

std::string httpBody(const std::string& response) {
    const size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

}  // namespace CorvaneTest
