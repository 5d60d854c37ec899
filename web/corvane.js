// The Corvane page: a server's node tree (server.js, tree.js) with the
// selected node's details beside it (details.js), and forms for several
// nodes at once (forms.js), all sending the gateway's modes (gateway.js)
// and showing what it answers, kept live by the gateway's node events
// (live.js). This module starts the page: who you are, the servers found
// on the network and the server form, the address, and the saved
// preferences (prefs.js).
import { onAddressChange, readAddress } from './address.js';
import { Details } from './details.js';
import { setUpForms } from './forms.js';
import { getServers, getUser, isAdmin } from './gateway.js';
import { Live } from './live.js';
import { Preferences } from './prefs.js';
import { ServerTree } from './server.js';
import { code, onSubmit, showStatus } from './status.js';

const $ = (id) => document.getElementById(id);

// The parts call each other through these hooks only once the page runs.
const server = new ServerTree({
  opened: (host) => {
    live.restart();
    markChosen(host);
    return prefs.serverOpened(host);
  },
  changed: () => {
    prefs.scheduleSave();
    live.schedule();
  },
  selected: (node) => {
    details.show(node);
    live.schedule();
  },
  renamed: (node) => details.renamed(node),
  reloaded: (node) => details.reloaded(node),
});
const prefs = new Preferences(server);
const details = new Details(server);
const live = new Live(server, { streamChanged: (host, id, stream) => details.streamChanged(host, id, stream).catch(() => {}) });
setUpForms(server, prefs);

onSubmit($('server-form'), async () => {
  const host = $('host').value.trim();
  if (host !== '') server.open(host);
  const admin = await isAdmin(host, server.rootId);
  return [admin ? 'You are an administrator of ' : 'You are not an administrator of ', code(host), '.'];
});

// The servers discovery found, each a button that opens its tree.
function showServers(list) {
  $('servers').replaceChildren(...list.map((found) => {
    const item = document.createElement('li');
    const button = item.appendChild(document.createElement('button'));
    button.type = 'button';
    button.dataset.host = found.host;
    const name = button.appendChild(document.createElement('span'));
    name.className = 'server-name';
    name.textContent = found.name || found.host;
    const facts = button.appendChild(document.createElement('span'));
    facts.className = 'server-facts';
    facts.textContent = [found.host, found.database, `version ${found.version}`].join(' · ');
    button.addEventListener('click', () => {
      $('host').value = found.host;
      $('server-form').requestSubmit();
    });
    return item;
  }));
  markChosen(server.host);
  showStatus($('servers-status'), 'ok', list.length === 0 ? 'None found: type a server below.' : '');
}

function markChosen(host) {
  for (const button of $('servers').querySelectorAll('button')) {
    if (button.dataset.host === host) button.setAttribute('aria-current', 'true');
    else button.removeAttribute('aria-current');
  }
}

// Opens the server an address names, and shows the node it names.
function follow(address) {
  server.wanted = address;
  $('host').value = address.host;
  $('server-form').requestSubmit();
}

// A link to another node pasted into the address bar of the open page.
onAddressChange(({ host, node }) => {
  if (host === '') return;
  if (host !== server.host) follow({ host, node });
  else if (node !== null) server.reveal(host, node);
});

getServers().then(showServers, (e) => showStatus($('servers-status'), 'error', e.message));
getUser().then((user) => { $('user').textContent = user; }, (e) => showStatus($('user-status'), 'error', e.message));
const address = readAddress();
if (address.host !== '') follow(address);
prefs.load();
